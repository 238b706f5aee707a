#pragma once

#include "base/JournalFile.h"
#include "base/LineId.h"

#include <QMutex>
#include <QString>

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
// Thread-safe: the intake appends, the tick marks lines done, the group commit writes the marks.
class IntakeJournal final {
public:
    static constexpr QStringView kFileName = u"lecturas.diario";

    struct Recovered {
        std::vector<JournaledLine> lines; // read and not done, in the order they were read
        QString damage;                   // a damaged tail that was cut off, with what was dropped; or empty
    };

    // Opens (or creates) the file; raises base::Error when it cannot.
    explicit IntakeJournal(const QString& path);

    // Reads what an earlier run left: called once, before the first append.
    Recovered recover();

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
    // cut back.
    std::vector<base::LineId> takeDoneMarks();
    void writeDoneMarks(const std::vector<base::LineId>& marks);

private:
    // ... implementation's own members
};

} // namespace station
