#pragma once

#include "base/LineId.h"
#include "station/IntakeJournal.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace station {

// An item as the tick takes it from `L1`: its text and the identity it keeps from its read to its row.
struct QueuedLine {
    QString text;
    base::LineId id;
};

// `L1`: the queue of received lines. Connection threads append; only the processing tick takes
// items out. Each device (each source an appender names) keeps its own first-in, first-out order,
// and when several devices have lines waiting the tick serves them in turn, one line each, so a
// device that floods the station with short lines gets its share and no more. Lines of a single
// source come out exactly as a plain first-in, first-out queue would give them.
//
// It never drops a line; instead an appender learns when it must stop reading and let TCP push
// back on its device until `drained` says it may read again. The high-water mark counts lines and
// bytes, whichever is reached first: long lines must not take the station's memory while the line
// count still looks small. At the mark only the sources that hold at least their share of the
// queue (the queue divided by the sources waiting) are held back, so a flooding device never stops
// the others; at twice the mark every source is, which bounds the memory whatever the devices do.
// A held source reads again once it holds at most half its share, or once the queue is down to
// half the mark.
//
// Every line gets an identity: the queue's run, drawn at random when it is made, and its append
// sequence. With a journal, each batch of lines is in the journal before it is in the queue, the
// tick marks lines done through the queue, and a journal that the disk refuses holds every appender
// back until a retry writes what it kept.
class IntakeQueue final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IntakeQueue)

public:
    static constexpr qsizetype kDefaultHighWaterMark = 100000;
    static constexpr qsizetype kDefaultHighWaterBytes = 16 * 1024 * 1024;

    explicit IntakeQueue(qsizetype highWaterMark = kDefaultHighWaterMark,
                         qsizetype highWaterBytes = kDefaultHighWaterBytes, QObject* parent = nullptr);

    // Journals every line appended from now on. Set once, before the first append; the journal
    // must outlive the queue. Without one the queue works as well, but a kill loses its lines.
    void setJournal(IntakeJournal* journal) { m_journal = journal; }

    // Any thread; holds the queue's own lock only for the push, never waits on the core's thread.
    // `source` names the device the lines came from. The lines of one read go to the journal in one
    // write, then into the queue in their order. Returns true while the appender must stop
    // reading from that source: holdsBack(source).
    bool appendBatch(std::vector<QString> lines, quint64 source = 0);
    bool append(QString line, quint64 source = 0);
    // Lines an earlier run read and did not finish, back in the queue with their own identities
    // and without being journaled again; before any new line. Returns as appendBatch().
    bool restore(std::vector<JournaledLine> lines);

    qsizetype size() const;
    bool isEmpty() const { return size() == 0; }
    bool isAboveHighWater() const;
    // What the queued lines take, in bytes of text.
    qsizetype bytes() const;
    // Lines appended since the queue was made.
    quint64 appendedCount() const;
    // Whether an appender that stopped reading from `source` must still wait: the queue held that
    // source back and has not let it go yet, or the journal is blocked.
    bool holdsBack(quint64 source) const;
    // Whether any source is held back, or the journal is blocked.
    bool holdsBack() const;
    quint64 run() const { return m_run; }

    // The tick's pair of steps, as one operation: the next item in turn, removed.
    std::optional<QueuedLine> takeFront();
    // The tick worked the line (any thread); its journal mark.
    void markDone(base::LineId id);
    // Writes what the journal kept in memory while the disk refused it (any thread; the group
    // commit's cadence). Once it succeeds `drained` lets the appenders read again. True when the
    // journal is not blocked (also when there is none).
    bool retryJournal();

Q_SIGNALS:
    // Front ends follow the queue through these. Sequence numbers count appends from 1, and a
    // removal names the sequence of the item that left. `appended` is emitted on the appending
    // thread, after the lock is released, so a queued receiver may see a removal before the append
    // it belongs to.
    void appended(quint64 sequence, const QString& line);
    void removed(quint64 sequence);
    // A source that was held back may read again (holdsBack(source) tells which), or the journal
    // takes lines again after it was blocked.
    void drained();
    // The queue had nothing waiting and now has: an idle tick wakes up. Emitted on the appending
    // thread.
    void linesWaiting();

private:
    struct Item {
        QString line;
        quint64 sequence;
        base::LineId id;
    };

    struct Source {
        std::deque<Item> items;
        qsizetype bytes = 0;
    };

    // With the lock held.
    bool full() const;
    bool pushesBackOn(const Source& source) const;
    void push(QString line, base::LineId id, quint64 source);
    // The source was served: whether the sources held back may read again.
    bool release(quint64 source, const Source* waiting);

    const qsizetype m_highWaterMark;
    const qsizetype m_highWaterBytes;
    const quint64 m_run;
    IntakeJournal* m_journal = nullptr;
    // Keeps the appenders' batches in one order, in the journal and in the queue alike, without
    // the tick ever waiting for the journal's write.
    QMutex m_appendMutex;
    mutable QMutex m_mutex;
    std::unordered_map<quint64, Source> m_sources; // only sources with lines waiting
    std::deque<quint64> m_turns;                   // those sources, in the order they are served
    std::unordered_set<quint64> m_held;            // sources told to stop reading, not yet let go
    qsizetype m_count = 0;
    qsizetype m_bytes = 0;
    quint64 m_appended = 0; // sequence of the last append
};

} // namespace station
