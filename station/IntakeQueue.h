#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>
#include <unordered_map>

namespace station {

// `L1`: the queue of received lines. Connection threads append; only the processing tick takes
// items out. Each device (each source an appender names) keeps its own first-in, first-out order,
// and when several devices have lines waiting the tick serves them in turn, one line each, so a
// device that floods the station with short lines gets its share and no more. Lines of a single
// source come out exactly as a plain first-in, first-out queue would give them.
//
// It never drops a line; instead the appending side learns when the queue stands above its
// high-water mark, so that it can stop reading and let TCP push back on the devices until
// `drained` says the tick has worked the queue down. The mark counts lines and bytes, whichever is
// reached first: long lines must not take the station's memory while the line count still looks
// small.
class IntakeQueue final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IntakeQueue)

public:
    static constexpr qsizetype kDefaultHighWaterMark = 100000;
    static constexpr qsizetype kDefaultHighWaterBytes = 16 * 1024 * 1024;

    explicit IntakeQueue(qsizetype highWaterMark = kDefaultHighWaterMark,
                         qsizetype highWaterBytes = kDefaultHighWaterBytes, QObject* parent = nullptr);

    // Any thread; holds the queue's own lock only for the push, never waits on the core's thread.
    // `source` names the device the line came from. Returns true while the queue stands at or
    // above its high-water mark.
    bool append(QString line, quint64 source = 0);

    qsizetype size() const;
    bool isEmpty() const { return size() == 0; }
    bool isAboveHighWater() const;
    // What the queued lines take, in bytes of text.
    qsizetype bytes() const;
    // Lines appended since the queue was made.
    quint64 appendedCount() const;

    // The tick's pair of steps, as one operation: the next item in turn, removed.
    std::optional<QString> takeFront();

Q_SIGNALS:
    // Front ends follow the queue through these. Sequence numbers count appends from 1, and a
    // removal names the sequence of the item that left. `appended` is emitted on the appending
    // thread, after the lock is released, so a queued receiver may see a removal before the append
    // it belongs to.
    void appended(quint64 sequence, const QString& line);
    void removed(quint64 sequence);
    // The queue fell to half its high-water mark, in lines and in bytes, after it had reached the mark.
    void drained();

private:
    struct Item {
        QString line;
        quint64 sequence;
    };

    bool full() const; // with the lock held

    const qsizetype m_highWaterMark;
    const qsizetype m_highWaterBytes;
    mutable QMutex m_mutex;
    std::unordered_map<quint64, std::deque<Item>> m_sources; // only sources with lines waiting
    std::deque<quint64> m_turns;                             // those sources, in the order they are served
    qsizetype m_count = 0;
    qsizetype m_bytes = 0;
    quint64 m_appended = 0; // sequence of the last append
    bool m_pushingBack = false;
};

} // namespace station
