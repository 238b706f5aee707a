#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace base {

// A file the station keeps what it must not lose in: records appended at its end, each framed
// with its length and a CRC-32C of its bytes, read back from any position, and forced to the disk
// on request. One descriptor, owned here; closed when the object goes.
//
// Not thread-safe: its owner serialises the calls.
class JournalFile {
public:
    // Bytes that frame each record: its length and its checksum.
    static constexpr qint64 kFrame = 8;
    // Longest record accepted; anything longer in a file is taken as damage.
    static constexpr qint64 kLongestRecord = 16 * 1024 * 1024;

    // What a write meets instead of the disk, for tests of a full disk: an errno value to fail
    // with, or 0 to write.
    using WriteFault = std::function<int(qint64 bytes)>;

    // Opens the file, creating it (readable by its owner only) when it does not exist. Raises
    // base::Error with the system's reason when it cannot.
    explicit JournalFile(const QString& path);
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    const QString& path() const { return m_path; }
    qint64 size() const { return m_size; }

    // Appends the records, framed, in one write. All or nothing: after a failure (a full disk)
    // the file is cut back to where it was, and base::Error is raised.
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

    void setWriteFault(WriteFault fault) { m_fault = std::move(fault); }

    static QByteArray frame(QByteArrayView record);

private:
    [[noreturn]] void fail(const QString& what, int error) const;

    QString m_path;
    int m_fd = -1;
    qint64 m_size = 0;
    WriteFault m_fault;
};

// Reads the records of a journal one by one from a position, in large reads. Stops at the end of
// the file or at the first record that is cut short or fails its checksum: what a power cut leaves
// at the end of an appended file.
class JournalReader {
public:
    JournalReader(const JournalFile& file, qint64 from);

    // The next record's bytes, or nothing at the end or at damage.
    std::optional<QByteArray> next();
    // Where the next record begins: after the last good one.
    qint64 position() const { return m_position; }
    // Whether the reading stopped at damage rather than at the end of the file.
    bool damaged() const { return m_damaged; }

private:
    bool fill(qint64 bytes);

    const JournalFile& m_file;
    qint64 m_position;
    QByteArray m_buffer; // bytes from m_position on
    bool m_damaged = false;
};

// CRC-32C (Castagnoli), as the journals frame their records with.
quint32 crc32c(QByteArrayView bytes);

} // namespace base
