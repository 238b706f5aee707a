#include "storage/RowOutbox.h"

#include "base/ByteCodec.h"
#include "base/Error.h"

#include <QScopeGuard>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

// The header: magic, version, then two slots, each {generation, confirmed offset, CRC-32C}. A
// confirm writes the slot the newest one is not in, so that a write torn by a power cut can only
// ever spoil the slot being written; the older one still holds a confirmed offset, at worst an
// earlier one, whose rows are then sent again rather than lost.
constexpr QByteArrayView kMagic("ORVFILAS");
constexpr quint32 kVersion = 1;
constexpr qint64 kSlotsAt = 16;
constexpr qint64 kSlotSize = 24;
constexpr qint64 kHeaderSize = kSlotsAt + 2 * kSlotSize;

// Rows handed out and remembered for confirm(); beyond them a confirm counts by reading.
constexpr std::size_t kMostHandedOut = 1 << 16;

struct Slot {
    quint64 generation = 0;
    qint64 confirmed = 0;
};

QByteArray slotBytes(const Slot& slot) {
    QByteArray out;
    base::ByteWriter w(out);
    w.put(slot.generation).put(slot.confirmed);
    const quint32 crc = base::crc32c(out);
    w.put(crc).put(quint32(0));
    return out;
}

std::optional<Slot> slotOf(QByteArrayView bytes) {
    base::ByteReader r(bytes);
    Slot slot;
    quint32 crc = 0;
    if (!r.get(slot.generation) || !r.get(slot.confirmed) || !r.get(crc) ||
        crc != base::crc32c(bytes.first(sizeof slot.generation + sizeof slot.confirmed)) ||
        slot.confirmed < kHeaderSize)
        return std::nullopt;
    return slot;
}

QByteArray freshHeader() {
    QByteArray out(kMagic.data(), kMagic.size());
    base::ByteWriter(out).put(kVersion).put(quint32(0));
    out.append(slotBytes({1, kHeaderSize}));
    out.append(QByteArray(kSlotSize, '\0')); // no valid slot: its CRC does not match
    return out;
}

} // namespace

RowOutbox::RowOutbox(const QString& path)
    : m_file(path) {
    const QByteArray head = m_file.readAt(0, kHeaderSize);
    if (!kMagic.startsWith(QByteArrayView(head).first(std::min<qsizetype>(head.size(), kMagic.size()))))
        throw base::Error(
            u"El archivo \"%1\" no es un archivo de filas en espera de esta estación"_s.arg(path));

    // Empty, or a header whose first write was cut short: no row can be in it yet.
    if (head.size() < kHeaderSize) {
        m_file.writeAt(0, freshHeader());
        m_generation = 1;
        return;
    }

    quint32 version = 0;
    base::ByteReader(QByteArrayView(head).sliced(kMagic.size())).get(version);
    if (version != kVersion)
        throw base::Error(u"El archivo \"%1\" es de una versión desconocida (%2)"_s.arg(path).arg(version));

    QStringList damage;
    qint64 confirmed = kHeaderSize;
    bool headerNeeded = false;
    const std::optional<Slot> slots[] = {
        slotOf(QByteArrayView(head).sliced(kSlotsAt, kSlotSize)),
        slotOf(QByteArrayView(head).sliced(kSlotsAt + kSlotSize, kSlotSize))};
    if (!slots[0] && !slots[1]) {
        damage << u"El encabezado del archivo \"%1\" estaba dañado: todas sus filas se envían de nuevo."_s
                      .arg(path);
        headerNeeded = true;
    } else {
        m_slot = !slots[0] || (slots[1] && slots[1]->generation > slots[0]->generation) ? 1 : 0;
        m_generation = slots[m_slot]->generation;
        // Past the end: the file was cut back after a full confirm and the new slot never made it
        // to the disk. Every row in it had been confirmed then.
        confirmed = std::min(slots[m_slot]->confirmed, m_file.size());
    }

    const qint64 size = m_file.size();
    base::JournalReader reader(m_file, confirmed);
    qint64 good = confirmed;
    while (const std::optional<QByteArray> record = reader.next()) {
        if (!PendingRow::decoded(*record))
            break;
        good = reader.position();
        ++m_writtenRows;
    }
    if (good < size) {
        m_file.truncate(good);
        damage
            << u"El final del archivo \"%1\" estaba dañado (una fila cortada o ilegible): se descartaron %2 "
               u"bytes; las %3 filas anteriores siguen en espera."_s.arg(path)
                   .arg(size - good)
                   .arg(m_writtenRows);
    }
    m_damage = damage.join(u' ');

    if (m_writtenRows == 0 && (m_file.size() > kHeaderSize || confirmed != kHeaderSize)) {
        m_file.truncate(kHeaderSize);
        confirmed = kHeaderSize;
        headerNeeded = true;
    }
    m_confirmed = confirmed - kHeaderSize;
    m_end = m_file.size() - kHeaderSize;
    if (headerNeeded)
        writeHeader();
}

qint64 RowOutbox::physical(qint64 position) const {
    return position - m_base + kHeaderSize;
}

void RowOutbox::writeHeader() {
    m_headerStale = true;
    const int slot = 1 - m_slot;
    m_file.writeAt(kSlotsAt + slot * kSlotSize, slotBytes({m_generation + 1, physical(m_confirmed)}));
    m_slot = slot;
    ++m_generation;
    m_headerStale = false;
}

void RowOutbox::append(const PendingRow& row) {
    QByteArray bytes = row.encoded();
    const QMutexLocker lock(&m_mutex);
    if (m_written)
        m_written();
    if (!m_kept.isEmpty()) {
        m_kept.append(std::move(bytes));
        return;
    }
    try {
        if (m_headerStale)
            writeHeader();
        m_file.append(bytes);
        ++m_writtenRows;
        m_end = m_base + m_file.size() - kHeaderSize;
    } catch (const base::Error& e) {
        m_kept.append(std::move(bytes));
        m_blockedReason = e.message();
    }
}

bool RowOutbox::blocked() const {
    const QMutexLocker lock(&m_mutex);
    return !m_kept.isEmpty();
}

QString RowOutbox::blockedReason() const {
    const QMutexLocker lock(&m_mutex);
    return m_blockedReason;
}

bool RowOutbox::retry() {
    const QMutexLocker lock(&m_mutex);
    if (m_kept.isEmpty())
        return true;
    try {
        if (m_headerStale)
            writeHeader();
        m_file.append(m_kept);
    } catch (const base::Error& e) {
        m_blockedReason = e.message();
        return false;
    }
    m_writtenRows += m_kept.size();
    m_end = m_base + m_file.size() - kHeaderSize;
    m_kept.clear();
    m_blockedReason.clear();
    return true;
}

std::optional<qint64> RowOutbox::knownRowsUpTo(qint64 position) const {
    if (position == m_confirmed)
        return m_confirmedRows;
    if (position == m_end)
        return m_writtenRows;
    const auto it = std::lower_bound(m_handedOut.begin(), m_handedOut.end(), position,
                                     [](const HandedOut& h, qint64 p) { return h.end < p; });
    if (it != m_handedOut.end() && it->end == position)
        return it->rows;
    return std::nullopt;
}

qint64 RowOutbox::rowsUpTo(qint64 position) const {
    if (const std::optional<qint64> rows = knownRowsUpTo(position))
        return *rows;
    base::JournalReader reader(m_file, physical(m_confirmed));
    qint64 rows = m_confirmedRows;
    while (reader.position() < physical(position) && reader.next())
        ++rows;
    // Anything else would leave a confirmed offset inside a row, and every later opening would take
    // the rest of the file for damage.
    if (reader.position() != physical(position))
        throw base::Error(
            u"La posición %1 del archivo \"%2\" no es el final de una fila en espera"_s.arg(position).arg(
                m_file.path()));
    return rows;
}

std::vector<RowOutbox::Entry> RowOutbox::read(qint64 from, qsizetype most) const {
    std::vector<Entry> entries;
    qint64 start = 0;
    qint64 limit = 0;
    qint64 base = 0;
    std::optional<qint64> rowsBefore;
    {
        const QMutexLocker lock(&m_mutex);
        from = std::max(from, m_confirmed); // confirmed rows may be gone from the file
        if (most <= 0 || from >= m_end)
            return entries;
        start = physical(from);
        limit = physical(m_end);
        base = m_base;
        rowsBefore = knownRowsUpTo(from);
        ++m_readers;
    }
    const auto done = qScopeGuard([this] {
        const QMutexLocker lock(&m_mutex);
        --m_readers;
    });

    // A descriptor of its own, so that the core's appends go on meanwhile: they only add bytes past
    // `limit`, and nothing is cut back while a read is in progress.
    const base::JournalFile file(m_file.path());
    base::JournalReader reader(file, start);
    const auto unreadable = [&] {
        return base::Error(u"No se pudo leer la fila en espera de la posición %1 del archivo \"%2\""_s
                               .arg(base + reader.position() - kHeaderSize)
                               .arg(file.path()));
    };
    entries.reserve(static_cast<std::size_t>(std::min<qsizetype>(most, 4096)));
    while (qsizetype(entries.size()) < most && reader.position() < limit) {
        const std::optional<QByteArray> record = reader.next();
        if (!record)
            throw unreadable();
        std::optional<PendingRow> row = PendingRow::decoded(*record);
        if (!row)
            throw unreadable();
        entries.push_back({std::move(*row), base + reader.position() - kHeaderSize});
    }

    if (rowsBefore) {
        const QMutexLocker lock(&m_mutex);
        qint64 rows = *rowsBefore;
        for (const Entry& entry : entries) {
            ++rows;
            if (entry.end > m_confirmed && (m_handedOut.empty() || entry.end > m_handedOut.back().end) &&
                m_handedOut.size() < kMostHandedOut)
                m_handedOut.push_back({entry.end, rows});
        }
    }
    return entries;
}

qint64 RowOutbox::confirmedPosition() const {
    const QMutexLocker lock(&m_mutex);
    return m_confirmed;
}

qint64 RowOutbox::endPosition() const {
    const QMutexLocker lock(&m_mutex);
    return m_end;
}

void RowOutbox::confirm(qint64 position) {
    const QMutexLocker lock(&m_mutex);
    if (position <= m_confirmed)
        return;
    if (m_written)
        m_written();
    if (position > m_end)
        throw base::Error(u"La posición %1 del archivo \"%2\" está más allá de sus filas"_s.arg(position).arg(
            m_file.path()));
    m_confirmedRows = rowsUpTo(position);
    m_confirmed = position;
    while (!m_handedOut.empty() && m_handedOut.front().end <= position)
        m_handedOut.pop_front();

    if (m_confirmed == m_end && m_readers == 0 && m_file.size() > kHeaderSize) {
        try {
            m_file.truncate(kHeaderSize);
            m_base = m_end;
        } catch (const base::Error&) {
            // Confirmed rows left in the file cost only room; the next full confirm cuts again.
        }
    }
    try {
        writeHeader();
    } catch (const base::Error&) {
        // Stale: the next append or sync writes it first, and sync() reports when it cannot.
    }
}

qint64 RowOutbox::pendingCount() const {
    const QMutexLocker lock(&m_mutex);
    return m_writtenRows - m_confirmedRows + m_kept.size();
}

void RowOutbox::sync() {
    {
        const QMutexLocker lock(&m_mutex);
        if (m_headerStale)
            writeHeader();
    }
    // Outside the lock, so that the core's appends do not wait for the disk: the flush uses only the
    // descriptor, which never changes.
    m_file.sync();
}

void RowOutbox::setWriteObserver(std::function<void()> written) {
    const QMutexLocker lock(&m_mutex);
    m_written = std::move(written);
}

void RowOutbox::setWriteFault(base::JournalFile::WriteFault fault) {
    const QMutexLocker lock(&m_mutex);
    m_file.setWriteFault(std::move(fault));
}

} // namespace storage
