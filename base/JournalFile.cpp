#include "base/JournalFile.h"

#include "base/AsideName.h"
#include "base/Error.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace base {

namespace {

constexpr std::array<quint32, 256> makeCrcTable() {
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> kCrcTable = makeCrcTable();

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

namespace {

quint32 crc32cByTable(const char* bytes, qsizetype size, quint32 c) {
    for (qsizetype i = 0; i < size; ++i)
        c = kCrcTable[(c ^ static_cast<unsigned char>(bytes[i])) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__)
// The processor's own CRC-32C, eight bytes a step: every line and row is checksummed on the way in
// and on every read, so the table's byte a step showed in the profiles.
__attribute__((target("sse4.2"))) quint32 crc32cByInstruction(const char* bytes, qsizetype size, quint32 c) {
    quint64 wide = c;
    for (; size >= 8; size -= 8, bytes += 8) {
        quint64 word;
        std::memcpy(&word, bytes, sizeof word);
        wide = __builtin_ia32_crc32di(wide, word);
    }
    c = quint32(wide);
    for (; size > 0; --size, ++bytes)
        c = __builtin_ia32_crc32qi(c, static_cast<unsigned char>(*bytes));
    return c;
}

const bool kCrcInstruction = __builtin_cpu_supports("sse4.2");
#endif

} // namespace

quint32 crc32c(QByteArrayView bytes, quint32 before) {
    const quint32 c = before ^ 0xFFFFFFFFu;
#if defined(__x86_64__)
    if (kCrcInstruction)
        return crc32cByInstruction(bytes.data(), bytes.size(), c) ^ 0xFFFFFFFFu;
#endif
    return crc32cByTable(bytes.data(), bytes.size(), c) ^ 0xFFFFFFFFu;
}

quint32 crc32c(QByteArrayView bytes) {
    return crc32c(bytes, 0);
}

namespace {

quint32 frameCrc(quint64 number, QByteArrayView record) {
    return crc32c(record, crc32c(QByteArrayView(reinterpret_cast<const char*>(&number), sizeof number)));
}

} // namespace

void JournalFile::appendFrame(QByteArray& out, quint64 number, QByteArrayView record) {
    const auto length = static_cast<quint32>(record.size());
    const quint32 crc = frameCrc(number, record);
    const qsizetype at = out.size();
    out.resize(at + kFrame + record.size());
    char* to = out.data() + at;
    std::memcpy(to, &length, sizeof length);
    std::memcpy(to + sizeof length, &crc, sizeof crc);
    std::memcpy(to + sizeof length + sizeof crc, &number, sizeof number);
    if (!record.isEmpty())
        std::memcpy(to + kFrame, record.data(), std::size_t(record.size()));
}

QByteArray JournalFile::frame(quint64 number, QByteArrayView record) {
    QByteArray out;
    appendFrame(out, number, record);
    return out;
}

JournalFile::JournalFile(const QString& path, JournalIo& io)
    : JournalFile(path, io, io.open(QFile::encodeName(path), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}

JournalFile::JournalFile(const QString& path, JournalIo& io, int fd)
    : m_path(path)
    , m_io(io)
    , m_fd(fd) {
    if (m_fd < 0)
        fail(u"abrir"_s, errno);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : EISDIR;
        m_io.close(m_fd);
        m_fd = -1;
        fail(u"abrir"_s, error);
    }
    m_size = st.st_size;
}

JournalFile::~JournalFile() {
    if (m_fd < 0)
        return;
    if (m_owned)
        m_io.close(m_fd);
    else
        ::close(m_fd);
}

std::unique_ptr<JournalFile> JournalFile::replace(const QString& path, QByteArrayView bytes, JournalIo& io) {
    return replace(
        path, [bytes](JournalFile& file) { file.writeAt(0, bytes); }, io);
}

std::unique_ptr<JournalFile>
JournalFile::replace(const QString& path, const std::function<void(JournalFile&)>& write, JournalIo& io) {
    const QString beside = path + u".nuevo"_s;
    auto file = std::unique_ptr<JournalFile>(new JournalFile(
        beside, io, io.open(QFile::encodeName(beside), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)));
    write(*file);
    file->sync();
    if (io.rename(QFile::encodeName(beside), QFile::encodeName(path)) != 0)
        file->fail(u"poner en su lugar"_s, errno);
    file->m_path = path;
    // The rename itself must survive a power cut, or the next start finds the old file.
    if (io.syncFolder(QFile::encodeName(QFileInfo(path).absolutePath())) != 0)
        file->fail(u"guardar en disco"_s, errno);
    return file;
}

QString JournalFile::keepFormerFormat(const QString& path) {
    const QString aside = formerFormatName(path, QDateTime::currentDateTime());
    keepUnder(path, aside, u"No se pudo apartar el archivo \"%1\" como \"%2\""_s);
    return aside;
}

QString JournalFile::keepAside(const QString& path) {
    const QString aside = damagedName(path, QDateTime::currentDateTime());
    keepUnder(path, aside, u"No se pudo apartar el archivo da\u00f1ado \"%1\" como \"%2\""_s);
    return aside;
}

QString JournalFile::keepAsideAnyFileAt(const QString& path) {
    const QFileInfo there(path);
    return there.exists() && there.isFile() ? keepAside(path) : QString();
}

void JournalFile::keepUnder(const QString& path, const QString& aside, const QString& failure) {
    // A second name for the same bytes costs nothing and leaves the path itself untouched until
    // the sound file is renamed over it; a copy where the file system has no such names.
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0 &&
        !QFile::copy(path, aside))
        throw Error(failure.arg(path, aside));
}

void JournalFile::fail(const QString& what, int error) const {
    throw Error(u"No se pudo %1 el archivo \"%2\": %3"_s.arg(what, m_path, systemText(error)));
}

void JournalFile::writeAll(qint64 offset, QByteArrayView bytes) {
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            m_io.pwrite(m_fd, bytes.data() + written, static_cast<size_t>(bytes.size() - written),
                        static_cast<off_t>(offset + written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // A record written in part would read as damage at every later reading.
            if (written > 0 && offset == m_size)
                (void)m_io.ftruncate(m_fd, static_cast<off_t>(m_size));
            fail(u"escribir"_s, error);
        }
        written += n;
    }
}

void JournalFile::append(const QList<QByteArray>& records) {
    QByteArray bytes;
    qsizetype total = 0;
    for (const QByteArray& r : records)
        total += kFrame + r.size();
    bytes.reserve(total);
    quint64 number = m_next;
    for (const QByteArray& r : records)
        appendFrame(bytes, number++, r);
    if (m_fault) {
        if (const int error = m_fault(bytes.size()))
            fail(u"escribir"_s, error);
    }
    writeAll(m_size, bytes);
    m_size += bytes.size();
    m_next = number;
}

void JournalFile::writeAt(qint64 offset, QByteArrayView bytes) {
    if (m_fault) {
        if (const int error = m_fault(bytes.size()))
            fail(u"escribir"_s, error);
    }
    writeAll(offset, bytes);
    m_size = std::max(m_size, offset + bytes.size());
}

QByteArray JournalFile::readAt(qint64 offset, qint64 length) const {
    QByteArray out;
    length = std::max<qint64>(0, std::min(length, m_size - offset));
    out.resize(length);
    qint64 got = 0;
    while (got < length) {
        const ssize_t n = ::pread(m_fd, out.data() + got, static_cast<size_t>(length - got),
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(u"leer"_s, errno);
        if (n == 0)
            break;
        got += n;
    }
    out.truncate(got);
    return out;
}

void JournalFile::truncate(qint64 size) {
    if (m_io.ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        fail(u"recortar"_s, errno);
    m_size = size;
}

void JournalFile::sync() {
    if (m_io.fdatasync(m_fd) != 0)
        fail(u"guardar en disco"_s, errno);
}

std::unique_ptr<const JournalFile> JournalFile::reader() const {
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        fail(u"leer"_s, errno);
    auto file = std::unique_ptr<JournalFile>(new JournalFile(m_path, m_io, fd));
    file->m_owned = false;
    return file;
}

bool JournalFile::stillAtPath() const {
    struct stat open {};
    struct stat named {};
    if (::fstat(m_fd, &open) != 0 || open.st_nlink == 0)
        return false;
    if (::stat(QFile::encodeName(m_path).constData(), &named) != 0)
        return errno != ENOENT && errno != ENOTDIR;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

JournalReader::JournalReader(const JournalFile& file, qint64 from, std::optional<quint64> after, qint64 until,
                             qint64 readAhead)
    : m_file(file)
    , m_position(from)
    , m_until(until < 0 ? file.size() : std::min(until, file.size()))
    , m_readAhead(readAhead)
    , m_last(after) {}

bool JournalReader::fill(qint64 bytes) {
    const qint64 have = m_buffer.size() - m_offset;
    if (have >= bytes)
        return true;
    if (m_position + bytes > m_until)
        return false;
    m_buffer.remove(0, m_offset);
    m_offset = 0;
    const qint64 from = m_position + have;
    m_buffer.append(m_file.readAt(from, std::max(std::min(m_readAhead, m_until - from), bytes - have)));
    return m_buffer.size() >= bytes;
}

void JournalReader::skip(qint64 bytes) {
    if (!m_skipFrom)
        m_skipFrom = m_position;
    m_position += bytes;
    m_offset += std::min<qsizetype>(bytes, m_buffer.size() - m_offset);
}

std::optional<std::pair<qint64, quint64>> JournalReader::frameHere() {
    if (!fill(JournalFile::kFrame))
        return std::nullopt;
    const char* at = m_buffer.constData() + m_offset;
    quint32 length = 0;
    quint32 crc = 0;
    quint64 number = 0;
    std::memcpy(&length, at, sizeof length);
    std::memcpy(&crc, at + 4, sizeof crc);
    std::memcpy(&number, at + 8, sizeof number);
    if (number == 0 || length > JournalFile::kLongestRecord || !fill(JournalFile::kFrame + length))
        return std::nullopt;
    at = m_buffer.constData() + m_offset;
    if (frameCrc(number, QByteArrayView(at + JournalFile::kFrame, length)) != crc)
        return std::nullopt;
    return std::pair{qint64(length), number};
}

std::optional<JournalRecord> JournalReader::next() {
    while (m_position < m_until) {
        const std::optional<std::pair<qint64, quint64>> frame = frameHere();
        if (!frame) {
            skip(1);
            continue;
        }
        const auto [length, number] = *frame;
        // Whole and checksummed, yet not newer than the record before it: left over from before
        // the file was cut back, or written over by a later one.
        if (m_last && number <= *m_last) {
            skip(JournalFile::kFrame + length);
            continue;
        }
        if (m_skipFrom) {
            std::optional<quint64> lost;
            if (m_last)
                lost = number - *m_last - 1;
            m_skipped.push_back({*m_skipFrom, m_position, lost});
            m_skipFrom.reset();
        }
        JournalRecord record{number, m_buffer.sliced(m_offset + JournalFile::kFrame, length),
                             m_position + JournalFile::kFrame + length};
        m_offset += JournalFile::kFrame + length;
        m_position = record.end;
        m_last = number;
        return record;
    }
    if (m_skipFrom) {
        m_skipped.push_back({*m_skipFrom, m_position, std::nullopt});
        m_skipFrom.reset();
    }
    return std::nullopt;
}

FormerJournalReader::FormerJournalReader(const JournalFile& file, qint64 from)
    : m_file(file)
    , m_position(from) {}

std::optional<QByteArray> FormerJournalReader::next() {
    if (m_damaged)
        return std::nullopt;
    const QByteArray head = m_file.readAt(m_position, kFrame);
    if (head.size() < kFrame) {
        m_damaged = !head.isEmpty();
        return std::nullopt;
    }
    quint32 length = 0;
    quint32 crc = 0;
    std::memcpy(&length, head.constData(), sizeof length);
    std::memcpy(&crc, head.constData() + sizeof length, sizeof crc);
    QByteArray record;
    if (length <= JournalFile::kLongestRecord)
        record = m_file.readAt(m_position + kFrame, length);
    if (length > JournalFile::kLongestRecord || record.size() < qsizetype(length) || crc32c(record) != crc) {
        m_damaged = true;
        return std::nullopt;
    }
    m_position += kFrame + length;
    return record;
}

bool FormerJournalReader::framedAt(const JournalFile& file, qint64 at) {
    if (!FormerJournalReader(file, at).next())
        return false;
    const QByteArray head = file.readAt(at, JournalFile::kFrame);
    if (head.size() < JournalFile::kFrame)
        return true;
    quint32 length = 0;
    quint32 crc = 0;
    quint64 number = 0;
    std::memcpy(&length, head.constData(), sizeof length);
    std::memcpy(&crc, head.constData() + 4, sizeof crc);
    std::memcpy(&number, head.constData() + 8, sizeof number);
    if (number == 0 || length > JournalFile::kLongestRecord)
        return true;
    const QByteArray record = file.readAt(at + JournalFile::kFrame, length);
    return record.size() < qsizetype(length) || frameCrc(number, record) != crc;
}

} // namespace base
