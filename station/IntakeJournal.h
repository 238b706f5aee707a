#pragma once

#include "base/JournalFile.h"
#include "base/LineId.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

namespace station {

// A line as the intake journal keeps it: its identity, the device it came from (the queue's
// source) and its text.
struct JournaledLine {
    base::LineId id;
    quint64 source = 0;
    QString text;
};

// Every line read from a device, written to a file of the working folder before it enters `L1`,
// and marked done once the tick has worked it (its row is then in the row outbox). After a crash
// or a kill, the next start works off the lines read but not done, in their order, before it
// listens again. Appends go to the file in one write per read; done marks are collected in memory
// and written by the group commit after the row outbox is on the disk, so that a power cut never
// leaves a line marked done whose row is lost.
//
// A file that cannot be opened at all (a folder in its place, no permission) leaves the journal
// blocked, as a full disk does: the intake reads no line it could not keep, until a retry opens it.
// A file removed or replaced while the station runs is written again at its path with every line
// not yet done.
//
// Thread-safe: the intake appends, the tick marks lines done, the group commit writes the marks.
class IntakeJournal final {
public:
    static constexpr QStringView kFileName = u"lecturas.diario";

    struct Recovered {
        std::vector<JournaledLine> lines; // read and not done, in the order they were read
        QString damage; // what was damaged, what was lost and where the damaged file was kept; or empty
    };

    // Opens (or creates) the file; when it cannot, the journal starts blocked. Never raises.
    explicit IntakeJournal(const QString& path, base::JournalIo& io = base::JournalIo::real());
    ~IntakeJournal();
    Q_DISABLE_COPY_MOVE(IntakeJournal)

    // Reads what an earlier run left: called once, before the first append. Until it has been
    // called, the file is never cut back. Damaged records cost only themselves: reading resumes at
    // the next sound one, the damaged file is kept aside as it was and a sound one with the lines
    // not done takes its place. Raises base::Error when that cannot be written (the file then stays
    // as it is, for a later start).
    Recovered recover();

    // Notices the file removed or replaced while the station runs, and writes a new one at the
    // path with every line not yet done (the group commit and the station's watch once a second
    // call it; any thread). What it did is told once by takeNotices().
    void checkFile();
    QStringList takeNotices();

    // The lines of one read, in one write (any thread). When the disk refuses it (full) the lines
    // are kept in memory, in order, and the journal is blocked until a retry writes them: the
    // intake then stops reading. Never raises.
    void append(const std::vector<JournaledLine>& lines);
    bool blocked() const;
    QString blockedReason() const;
    // Writes the lines kept in memory; true when none is left.
    bool retry();

    // The tick worked this line (any thread); kept in memory until the group commit.
    void markDone(base::LineId id);

    // The group commit, in its two halves: the marks collected so far are taken before the row
    // outbox is synced, and written and synced after. When no line is left undone the file is
    // cut back. Never raises: marks the disk refuses are written at the next call, and a sync the
    // disk refuses blocks the journal like a refused append until a retry succeeds.
    std::vector<base::LineId> takeDoneMarks();
    void writeDoneMarks(const std::vector<base::LineId>& marks);

    // Told of every append and of the first mark since the marks were last taken, with a lock of
    // the journal held (any thread): the group commit sleeps until there is something to force.
    void setWriteObserver(std::function<void()> written);

    // What the file's writes meet instead of the disk (tests of a full disk).
    void setWriteFault(base::JournalFile::WriteFault fault);

private:
    // A line the disk refused, ready to be written.
    struct Kept {
        base::LineId id;
        QByteArray record;
    };

    mutable QMutex m_mutex;
    std::function<void()> m_written; // under m_mutex
    bool open();
    bool convertFormerFormat();
    void putBack();

    const QString m_path;
    base::JournalIo& m_io;
    std::shared_ptr<base::JournalFile> m_file; // none while it cannot be opened
    base::JournalFile::WriteFault m_fault;
    QStringList m_notices;
    bool m_putBackFailed = false;
    // Lines in the file or kept in memory whose mark the group commit has not been given yet.
    std::unordered_set<base::LineId> m_undone;
    std::deque<Kept> m_kept;
    // Marks have a lock of their own: the tick never waits for the intake's or the group commit's
    // writes to the disk.
    QMutex m_marksMutex;
    std::function<void()> m_marked;        // the same observer, under m_marksMutex
    std::vector<base::LineId> m_collected; // marked by the tick, not yet taken
    std::vector<base::LineId> m_unwritten; // taken, not yet in the file
    QString m_blockedReason;
    std::atomic<bool> m_blocked = false; // m_blockedReason is not empty, read without the lock
    bool m_syncOwed = false;
    // What an earlier run left has not been read yet: its lines are not in m_undone.
    bool m_unread = false;
};

} // namespace station
