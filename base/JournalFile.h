#pragma once

#include "base/JournalIo.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace base {

// A file the station keeps what it must not lose in: records appended at its end, each framed
// with its length, its number and a CRC-32C of both, read back from any position, and forced to
// the disk on request. Numbers only ever grow within a file, also across cutting it back, so that
// bytes a power cut brings back from before a cut-back are told from the records written since.
// One descriptor, owned here; closed when the object goes.
//
// Not thread-safe: its owner serialises the calls.
class JournalFile {
public:
    // Bytes that frame each record: its length, its checksum and its number.
    static constexpr qint64 kFrame = 16;
    // Longest record accepted; anything longer in a file is taken as damage.
    static constexpr qint64 kLongestRecord = 16 * 1024 * 1024;

    // What a write meets instead of the disk, for tests of a full disk: an errno value to fail
    // with, or 0 to write.
    using WriteFault = std::function<int(qint64 bytes)>;

    // Opens the file, creating it (readable by its owner only) when it does not exist. Raises
    // base::Error with the system's reason when it cannot.
    explicit JournalFile(const QString& path, JournalIo& io = JournalIo::real());
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Puts a new file holding `bytes` at `path`, in place of whatever file is there, as one step:
    // written beside it, forced to the disk, then renamed over it. Raises base::Error.
    static std::unique_ptr<JournalFile> replace(const QString& path, QByteArrayView bytes, JournalIo& io);
    // The same, the new file's bytes written by `write` (at the end of the file given to it), for
    // contents too large to hold in memory.
    static std::unique_ptr<JournalFile>
    replace(const QString& path, const std::function<void(JournalFile&)>& write, JournalIo& io);

    const QString& path() const { return m_path; }
    qint64 size() const { return m_size; }
    JournalIo& io() const { return m_io; }

    // The number the next appended record gets; its owner sets it after reading the file.
    quint64 nextNumber() const { return m_next; }
    void setNextNumber(quint64 next) { m_next = next; }

    // Appends the records, framed and numbered, in one write. All or nothing: after a failure
    // (a full disk) the file is cut back to where it was, and base::Error is raised.
    void append(const QList<QByteArray>& records);
    void append(const QByteArray& record) { append(QList<QByteArray>{record}); }
    // Writes bytes in place (a header); raises base::Error.
    void writeAt(qint64 offset, QByteArrayView bytes);
    // Up to `length` bytes from `offset`; fewer at the end of the file. Raises base::Error.
    QByteArray readAt(qint64 offset, qint64 length) const;
    // Cuts the file to `size` bytes; raises base::Error.
    void truncate(qint64 size);
    // Forces what was written to the disk; raises base::Error.
    void sync();

    // The same file on a descriptor of its own, for reading on another thread while this one
    // writes; it reads as far as the file reached when it was made. Raises base::Error.
    std::unique_ptr<const JournalFile> reader() const;

    // Whether the path still names this very file: false once it was removed, or replaced by
    // another file or a folder. Writes to a file no longer at its path are lost at the next start.
    bool stillAtPath() const;

    void setWriteFault(WriteFault fault) { m_fault = std::move(fault); }

    static QByteArray frame(quint64 number, QByteArrayView record);
    // The record framed, at the end of `out`: many records framed into one buffer without a copy each.
    static void appendFrame(QByteArray& out, quint64 number, QByteArrayView record);

    // Keeps the file at `path` as it is under a name of its own beside it (see base::damagedName),
    // before the station writes a sound file in its place; returns that name. Raises base::Error.
    static QString keepAside(const QString& path);
    // The same for a journal in an earlier version's format, before it is written in the present
    // one: "<path>.anterior-yyyyMMdd-HHmmss". Raises base::Error.
    static QString keepFormerFormat(const QString& path);
    // keepAside() when a regular file is at `path` (a journal put back where it was removed, or
    // over a file that replaced it); else nothing is kept and the name is empty.
    static QString keepAsideAnyFileAt(const QString& path);

private:
    JournalFile(const QString& path, JournalIo& io, int fd);
    static void keepUnder(const QString& path, const QString& aside, const QString& failure);
    [[noreturn]] void fail(const QString& what, int error) const;
    void writeAll(qint64 offset, QByteArrayView bytes);

    QString m_path;
    JournalIo& m_io;
    int m_fd = -1;
    bool m_owned = true; // closed through m_io; a reader's copy is closed directly
    qint64 m_size = 0;
    quint64 m_next = 1;
    WriteFault m_fault;
};

// A record as read back: its number, its bytes, and where it ends in the file.
struct JournalRecord {
    quint64 number = 0;
    QByteArray bytes;
    qint64 end = 0;
};

// Reads the records of a journal one by one from a position, in large reads. A stretch that is
// no record (cut short, failing its checksum, or a record from before a cut-back) is skipped:
// reading resumes at the next frame that passes every check, and the stretch is told by skipped().
// Numbers must grow: a record numbered at or below the one before it (or `after`) is skipped too.
class JournalReader {
public:
    struct Skipped {
        qint64 from = 0;
        qint64 to = 0;
        // Records lost in the stretch, told by the numbers on either side; none at the end of the
        // file, or at its beginning when `after` was not given.
        std::optional<quint64> lost;
    };

    // `readAhead`: bytes read from the file at a time; a reader that wants a few records asks for
    // less than the default, which suits a reading of the whole file.
    JournalReader(const JournalFile& file, qint64 from, std::optional<quint64> after = std::nullopt,
                  qint64 until = -1, qint64 readAhead = kDefaultReadAhead);
    static constexpr qint64 kDefaultReadAhead = 256 * 1024;

    // The next good record, or nothing at the end (or at `until`).
    std::optional<JournalRecord> next();
    // Where the next record begins: after the last good one, or at the end of what was skipped.
    qint64 position() const { return m_position; }
    const std::vector<Skipped>& skipped() const { return m_skipped; }
    bool damaged() const { return !m_skipped.empty(); }

private:
    // The frame at m_position: its record's length and number when whole and checksummed.
    std::optional<std::pair<qint64, quint64>> frameHere();
    bool fill(qint64 bytes);
    void skip(qint64 bytes);

    const JournalFile& m_file;
    qint64 m_position;
    qint64 m_until;
    const qint64 m_readAhead;
    std::optional<quint64> m_last;
    QByteArray m_buffer; // bytes from m_position - m_offset on
    qsizetype m_offset = 0;
    std::optional<qint64> m_skipFrom;
    std::vector<Skipped> m_skipped;
};

// The framing of journals written before records were numbered: the record's length, then a
// CRC-32C of the record alone. Read only to carry "filas.diario" and "lecturas.diario" of an earlier
// version over to the present framing at the first start after an upgrade; never written. Reads as
// that version did: from a position on, stopping at the first record cut short or failing its
// checksum.
class FormerJournalReader {
public:
    static constexpr qint64 kFrame = 8;

    FormerJournalReader(const JournalFile& file, qint64 from);

    // The next record's bytes, or nothing at the end or at damage.
    std::optional<QByteArray> next();
    qint64 position() const { return m_position; }
    bool damaged() const { return m_damaged; }

    // Whether the record at `at` is framed the earlier way, and not the present one.
    static bool framedAt(const JournalFile& file, qint64 at);

private:
    const JournalFile& m_file;
    qint64 m_position;
    bool m_damaged = false;
};

// CRC-32C (Castagnoli), as the journals frame their records with.
quint32 crc32c(QByteArrayView bytes);
// Goes on with a CRC-32C over more bytes: crc32c(a + b) == crc32c(b, crc32c(a)).
quint32 crc32c(QByteArrayView bytes, quint32 before);

} // namespace base
