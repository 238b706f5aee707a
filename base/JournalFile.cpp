#include "base/JournalFile.h"

#include "base/Error.h"

#include <QFile>

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

constexpr qint64 kReadChunk = 256 * 1024;

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

quint32 crc32c(QByteArrayView bytes) {
#if defined(__x86_64__)
    if (kCrcInstruction)
        return crc32cByInstruction(bytes.data(), bytes.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
#endif
    return crc32cByTable(bytes.data(), bytes.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

QByteArray JournalFile::frame(QByteArrayView record) {
    QByteArray out;
    out.reserve(kFrame + record.size());
    const auto length = static_cast<quint32>(record.size());
    const quint32 crc = crc32c(record);
    out.append(reinterpret_cast<const char*>(&length), sizeof length);
    out.append(reinterpret_cast<const char*>(&crc), sizeof crc);
    out.append(record);
    return out;
}

JournalFile::JournalFile(const QString& path)
    : m_path(path) {
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        fail(u"abrir"_s, errno);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        fail(u"abrir"_s, error);
    }
    m_size = st.st_size;
}

JournalFile::~JournalFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void JournalFile::fail(const QString& what, int error) const {
    throw Error(u"No se pudo %1 el archivo \"%2\": %3"_s.arg(what, m_path, systemText(error)));
}

void JournalFile::append(const QList<QByteArray>& records) {
    QByteArray bytes;
    qsizetype total = 0;
    for (const QByteArray& r : records)
        total += kFrame + r.size();
    bytes.reserve(total);
    for (const QByteArray& r : records)
        bytes.append(frame(r));
    if (m_fault) {
        if (const int error = m_fault(bytes.size()))
            fail(u"escribir"_s, error);
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::pwrite(m_fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written),
                     static_cast<off_t>(m_size + written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // A record written in part would read as damage and end every later reading there.
            if (written > 0)
                (void)::ftruncate(m_fd, static_cast<off_t>(m_size));
            fail(u"escribir"_s, error);
        }
        written += n;
    }
    m_size += written;
}

void JournalFile::writeAt(qint64 offset, QByteArrayView bytes) {
    if (m_fault) {
        if (const int error = m_fault(bytes.size()))
            fail(u"escribir"_s, error);
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data() + written, static_cast<size_t>(bytes.size() - written),
                                   static_cast<off_t>(offset + written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(u"escribir"_s, n < 0 ? errno : ENOSPC);
        written += n;
    }
    m_size = std::max(m_size, offset + written);
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
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        fail(u"recortar"_s, errno);
    m_size = size;
}

void JournalFile::sync() {
    if (::fdatasync(m_fd) != 0)
        fail(u"guardar en disco"_s, errno);
}

JournalReader::JournalReader(const JournalFile& file, qint64 from)
    : m_file(file)
    , m_position(from) {}

bool JournalReader::fill(qint64 bytes) {
    if (m_buffer.size() >= bytes)
        return true;
    const qint64 at = m_position + m_buffer.size();
    m_buffer.append(m_file.readAt(at, std::max(kReadChunk, bytes - m_buffer.size())));
    return m_buffer.size() >= bytes;
}

std::optional<QByteArray> JournalReader::next() {
    if (m_damaged || !fill(JournalFile::kFrame)) {
        // A frame cut short is damage; nothing at all is the end.
        if (!m_buffer.isEmpty())
            m_damaged = true;
        return std::nullopt;
    }
    quint32 length = 0;
    quint32 crc = 0;
    std::memcpy(&length, m_buffer.constData(), sizeof length);
    std::memcpy(&crc, m_buffer.constData() + sizeof length, sizeof crc);
    if (length > JournalFile::kLongestRecord || !fill(JournalFile::kFrame + length)) {
        m_damaged = true;
        return std::nullopt;
    }
    QByteArray record = m_buffer.sliced(JournalFile::kFrame, length);
    if (crc32c(record) != crc) {
        m_damaged = true;
        return std::nullopt;
    }
    m_buffer.remove(0, JournalFile::kFrame + length);
    m_position += JournalFile::kFrame + length;
    return record;
}

} // namespace base
