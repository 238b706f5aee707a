#pragma once

#include "base/JournalFile.h"
#include "storage/PendingRow.h"

#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
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
// Rows are written behind: an append only keeps the row in memory, and the group commit's sync
// writes what was appended since in one write before it forces the file (so does an append that
// finds a quarter megabyte waiting). A row the writer confirmed before then never reaches the file.
// Until a sync, a row is safe from a kill only through its line in the intake journal, which is
// marked done on the disk only after that sync.
//
// Thread-safe: the core appends, the writer reads and confirms, the group commit syncs.
class RowOutbox final {
public:
    static constexpr QStringView kFileName = u"filas.diario";

    struct Entry {
        PendingRow row;
        qint64 end; // the position after this row
    };

    // Opens (or creates) the file and finds the unconfirmed rows. Damage (a row cut short by a
    // power cut, a spoiled byte, a spoiled header, a file that is no outbox) costs only the rows
    // it hit: the file is kept aside as it was, a sound one with every readable row is put in its
    // place, and damage() tells what was lost and where. A file that cannot be opened at all (a
    // folder in its place, no permission) leaves the outbox blocked, as a full disk does, until a
    // retry can open it. Never raises.
    explicit RowOutbox(const QString& path, base::JournalIo& io = base::JournalIo::real());
    // Writes what is still in memory (a last sync should have done it already).
    ~RowOutbox();
    Q_DISABLE_COPY_MOVE(RowOutbox)

    // What the opening found damaged, what it lost and where the damaged file was kept; empty
    // when nothing was.
    const QString& damage() const { return m_damage; }

    // Notices the file removed or replaced while the station runs, and writes a new one at the
    // path with every unconfirmed row (the group commit's sync and the station's watch once a
    // second call it; any thread). What it did is told once by takeNotices().
    void checkFile();
    // Texts for the operator since the last call: a file put back, a file opened late.
    QStringList takeNotices();

    // Takes over the rows waiting in another outbox file (one an earlier version left in the
    // temporary folder): appended here, forced to the disk, and that file removed. Returns how
    // many rows came; raises base::Error (the other file then stays as it is).
    qint64 adopt(const QString& otherPath);

    // Appends a row (the core's thread). When the disk refuses to write it (full), the row stays
    // in memory, in order, and the outbox is blocked until retry() writes it: the caller then takes
    // no new rows. Never raises, never drops.
    void append(const PendingRow& row);
    bool blocked() const;
    // The disk's refusal while blocked.
    QString blockedReason() const;
    // Writes the rows kept in memory; true when none is left (the outbox takes rows again).
    bool retry();

    // Up to `most` rows from `from` on, in order (the writer's thread); rows not yet written come
    // from memory, also while the disk refuses them. Only while the file cannot be opened at all
    // are the rows kept meanwhile not readable. Raises base::Error when the file cannot be read or
    // `from` is no row's beginning.
    std::vector<Entry> read(qint64 from, qsizetype most) const;
    qint64 confirmedPosition() const;
    qint64 endPosition() const;
    // Everything before `position` is in the database (or was refused by it for good). Kept in the
    // header; once nothing is left unconfirmed the file is cut back to its header. Raises
    // base::Error when `position` is no row's end.
    void confirm(qint64 position);
    // Rows appended (or found at opening) and not yet confirmed, kept-in-memory ones included.
    qint64 pendingCount() const;

    // Writes the rows appended since the last sync and forces the file to the disk (the group
    // commit). Raises base::Error when a row is left unwritten or the disk refuses.
    void sync();

    // Told of every append and confirm, with the outbox's lock held (any thread): the group
    // commit sleeps until there is something to force.
    void setWriteObserver(std::function<void()> written);

    // What the file's writes meet instead of the disk, for tests of a full disk; kept across a
    // file put back.
    void setWriteFault(base::JournalFile::WriteFault fault);

private:
    // A row handed out by read() and not yet confirmed: where it ends and how many rows end up to
    // there, counted from the opening. Lets confirm() count what leaves without reading it again.
    struct HandedOut {
        qint64 end;
        qint64 rows;
    };

    // An appended row not yet in the file; `end` is its position once there (0 while no file could
    // be opened to place it after).
    struct Unwritten {
        PendingRow row;
        QByteArray bytes;
        qint64 end;
    };

    bool open();
    bool convertFormerFormat();
    // Gives a row its place after the file's rows and the unwritten ones before it.
    void place(Unwritten row);
    // Places the rows kept while no file could be opened.
    void placeKept();
    // Writes the unwritten rows in one write, those confirmed meanwhile left out when the file
    // holds nothing else unconfirmed. A refusal blocks the outbox until a write succeeds; raises
    // base::Error (the rows then stay in memory).
    void writeUnwritten();
    // With every row in the file confirmed, cuts it back to its header and forgets the unwritten
    // rows confirmed meanwhile; nothing when a read is in progress or the cut fails.
    void cutBackConfirmed();
    qint64 fileEnd() const;
    // The unwritten row that ends at `position`, or the end of them.
    std::deque<Unwritten>::const_iterator unwrittenEndingAt(qint64 position) const;
    // The positions of a file just written anew: nothing confirmed, every row in it unconfirmed.
    void startOver();
    void putBack();
    qint64 physical(qint64 position) const;
    std::optional<qint64> knownRowsUpTo(qint64 position) const;
    // Appends to `entries`, up to `most` in all, the unwritten rows from `from` (at or past the
    // file's end) on.
    void readUnwritten(qint64 from, qsizetype most, std::vector<Entry>& entries) const;
    // Keeps where the rows read end, for confirm(); `rowsBefore` counts the rows before the first.
    void rememberHandedOut(const std::vector<Entry>& entries, std::optional<qint64> rowsBefore) const;
    qint64 rowsUpTo(qint64 position) const;
    void writeHeader();

    const QString m_path;
    base::JournalIo& m_io;
    std::shared_ptr<base::JournalFile> m_file; // none while it cannot be opened
    QString m_damage;
    QStringList m_notices;
    bool m_putBackFailed = false;

    mutable QMutex m_mutex;
    std::function<void()> m_written;
    // Positions: m_base is the one of the first byte after the header; it moves on when the file is
    // cut back, so that positions never repeat.
    // The confirmed and end positions change under the lock only, and are read without it: the
    // writer looks at them for every row, and must not wait for an append's write to see them.
    qint64 m_base = 0;
    std::atomic<qint64> m_confirmed = 0;
    std::atomic<qint64> m_end = 0;
    // Rows counted from the opening: the pending ones are the difference. Written rows count
    // those placed and still waiting in memory for the sync too.
    qint64 m_confirmedRows = 0;
    qint64 m_writtenRows = 0;
    // Record numbers: the one of the last confirmed row, and the one before the first row found
    // at opening (rows are numbered one after the other).
    quint64 m_confirmedNumber = 0;
    quint64 m_numberBase = 0;
    quint64 m_generation = 0;
    int m_slot = 0;
    // The header slot could not be written: nothing is appended until it is, as the old slot may
    // point past a file that was cut back.
    bool m_headerStale = false;
    std::deque<Unwritten> m_kept;      // appended while no file could be opened (no place yet), in order
    std::deque<Unwritten> m_unwritten; // after the file's rows, in order
    qint64 m_unwrittenBytes = 0;
    bool m_writeRefused = false; // the disk refused the unwritten rows: retried, blocked meanwhile
    base::JournalFile::WriteFault m_fault;
    QString m_blockedReason;
    mutable std::deque<HandedOut> m_handedOut;
    mutable int m_readers = 0; // reads in progress, which the file must not be cut back under
};

} // namespace storage
