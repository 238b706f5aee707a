#pragma once

#include "base/JournalFile.h"
#include "storage/PendingRow.h"

#include <QMutex>
#include <QString>

#include <deque>
#include <vector>

namespace storage {

// The rows on their way to the database, kept in a file of the working folder until the database
// has confirmed them: every row the record processor stores is appended here before it is sent,
// and leaves only when the commit that carried it succeeded. After a crash, a kill or a power cut
// the next start finds the unconfirmed rows here, in order, and sends them before any new one.
//
// Positions are logical: they only ever grow while the station runs, also when the file is cut
// back after everything in it was confirmed. The confirmed position is kept in the file's header.
//
// Thread-safe: the core appends, the writer reads and confirms, the group commit syncs.
class RowOutbox final {
public:
    static constexpr QStringView kFileName = u"filas.diario";

    struct Entry {
        PendingRow row;
        qint64 end; // the position after this row
    };

    // Opens (or creates) the file and finds the unconfirmed rows: a damaged tail (a row cut short
    // by a power cut) is cut off and told by damage(), never sent half. Raises base::Error when the
    // file cannot be opened or is no outbox of this station.
    explicit RowOutbox(const QString& path);

    // Why a tail was cut off at opening, with what was dropped; empty when nothing was.
    const QString& damage() const { return m_damage; }

    // Appends a row (the core's thread). When the disk refuses it (full), the row is kept in
    // memory, in order, and the outbox is blocked until retry() writes it: the caller then takes
    // no new rows. Never raises, never drops.
    void append(const PendingRow& row);
    bool blocked() const;
    // The disk's refusal while blocked.
    QString blockedReason() const;
    // Writes the rows kept in memory; true when none is left (the outbox takes rows again).
    bool retry();

    // Up to `most` rows from `from` on, in order (the writer's thread). Rows kept in memory while
    // blocked are not readable yet.
    std::vector<Entry> read(qint64 from, qsizetype most) const;
    qint64 confirmedPosition() const;
    qint64 endPosition() const;
    // Everything before `position` is in the database (or was refused by it for good). Kept in the
    // header; once nothing is left unconfirmed the file is cut back to its header.
    void confirm(qint64 position);
    // Rows appended (or found at opening) and not yet confirmed, kept-in-memory ones included.
    qint64 pendingCount() const;

    // Forces what was written to the disk (the group commit).
    void sync();

private:
    // ... implementation's own members
};

} // namespace storage
