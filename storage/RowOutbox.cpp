#include "storage/RowOutbox.h"

#include "base/ByteCodec.h"
#include "base/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

// The header: magic, version, then two slots, each {generation, confirmed offset, number of the
// last confirmed row, CRC-32C}. A confirm writes the slot the newest one is not in, so that a
// write torn by a power cut can only ever spoil the slot being written; the older one still holds
// a confirmed position, at worst an earlier one, whose rows are then sent again rather than lost.
// The number tells the rows written since a cut-back from those a power cut brings back from
// before it, which were all confirmed.
constexpr QByteArrayView kMagic("ORVFILAS");
constexpr quint32 kVersion = 2;
constexpr qint64 kSlotsAt = 16;
constexpr qint64 kSlotSize = 32;
constexpr qint64 kHeaderSize = kSlotsAt + 2 * kSlotSize;

// Bytes copied at a time when the file is written again.
constexpr qint64 kCopyChunk = 1 << 20;

// Rows handed out and remembered for confirm(); beyond them a confirm counts by reading.
constexpr std::size_t kMostHandedOut = 1 << 16;

// Bytes of unwritten rows an append writes at once, rather than leave them to the next sync.
constexpr qint64 kMostUnwrittenBytes = 256 * 1024;

struct Slot {
    quint64 generation = 0;
    qint64 confirmed = 0;
    quint64 number = 0;
};

QByteArray slotBytes(const Slot& slot) {
    QByteArray out;
    base::ByteWriter w(out);
    w.put(slot.generation).put(slot.confirmed).put(slot.number);
    const quint32 crc = base::crc32c(out);
    w.put(crc).put(quint32(0));
    return out;
}

std::optional<Slot> slotOf(QByteArrayView bytes) {
    base::ByteReader r(bytes);
    Slot slot;
    quint32 crc = 0;
    if (!r.get(slot.generation) || !r.get(slot.confirmed) || !r.get(slot.number) || !r.get(crc) ||
        crc != base::crc32c(bytes.first(24)) || slot.confirmed < kHeaderSize)
        return std::nullopt;
    return slot;
}

QByteArray headerBytes(quint64 confirmedNumber) {
    QByteArray out(kMagic.data(), kMagic.size());
    base::ByteWriter(out).put(kVersion).put(quint32(0));
    out.append(slotBytes({1, kHeaderSize, confirmedNumber}));
    out.append(QByteArray(kSlotSize, '\0')); // no valid slot: its CRC does not match
    return out;
}

// The layout of version 1, read only to carry an earlier version's file over (convertFormerFormat):
// a 64-byte header of magic, version and two slots {generation, confirmed offset, CRC-32C of both,
// 4 bytes unused}, then the rows in the former framing (base::FormerJournalReader).
constexpr quint32 kFormerVersion = 1;
constexpr qint64 kFormerSlotSize = 24;
constexpr qint64 kFormerHeaderSize = kSlotsAt + 2 * kFormerSlotSize;

bool isFormerFormat(QByteArrayView head) {
    quint32 version = 0;
    return head.size() >= kFormerHeaderSize && head.startsWith(kMagic) &&
           base::ByteReader(head.sliced(kMagic.size())).get(version) && version == kFormerVersion;
}

// Where the former file's unconfirmed rows begin, as that version found it: the newest sound slot's
// offset, or the first row when neither slot is sound (every row is then sent again).
std::optional<qint64> formerConfirmed(QByteArrayView head, qint64 size) {
    std::optional<std::pair<quint64, qint64>> newest;
    for (int i = 0; i < 2; ++i) {
        const QByteArrayView bytes = head.sliced(kSlotsAt + i * kFormerSlotSize, kFormerSlotSize);
        base::ByteReader r(bytes);
        quint64 generation = 0;
        qint64 confirmed = 0;
        quint32 crc = 0;
        if (r.get(generation) && r.get(confirmed) && r.get(crc) && crc == base::crc32c(bytes.first(16)) &&
            confirmed >= kFormerHeaderSize && (!newest || generation > newest->first))
            newest = std::pair{generation, confirmed};
    }
    if (!newest)
        return std::nullopt;
    return std::min(newest->second, size);
}

QString rowsText(qint64 n) {
    return n == 1 ? u"1 fila"_s : u"%1 filas"_s.arg(n);
}

} // namespace

RowOutbox::RowOutbox(const QString& path, base::JournalIo& io)
    : m_path(path)
    , m_io(io) {
    open();
}

RowOutbox::~RowOutbox() {
    const QMutexLocker lock(&m_mutex);
    if (m_file && !m_putBackFailed && !m_unwritten.empty()) {
        try {
            writeUnwritten();
        } catch (const base::Error&) {
            // Their lines are not done in the intake journal: the next start works them again.
        }
    }
}

bool RowOutbox::open() {
    try {
        m_file = std::make_unique<base::JournalFile>(m_path, m_io);
    } catch (const base::Error& e) {
        m_blockedReason = e.message() + u"; no se toman filas nuevas hasta poder guardarlas en \u00e9l"_s;
        return false;
    }
    m_file->setWriteFault(m_fault);
    const qint64 size = m_file->size();
    const QByteArray head = m_file->readAt(0, kHeaderSize);

    if (isFormerFormat(head))
        return convertFormerFormat();

    // Empty, or a header whose first write was cut short: no row can be in it yet.
    if (head.size() < kHeaderSize &&
        kMagic.startsWith(QByteArrayView(head).first(std::min<qsizetype>(head.size(), kMagic.size())))) {
        m_file->truncate(0);
        m_file->writeAt(0, headerBytes(0));
        m_generation = 1;
        m_slot = 0;
        return true;
    }

    QStringList damage;
    qint64 start = kHeaderSize;
    std::optional<quint64> after;
    quint32 version = 0;
    if (head.size() == kHeaderSize)
        base::ByteReader(QByteArrayView(head).sliced(kMagic.size())).get(version);
    if (!head.startsWith(kMagic) || version != kVersion) {
        damage << u"no es un archivo de filas en espera de esta versi\u00f3n de la estaci\u00f3n o su "
                  u"encabezado "
                  u"estaba da\u00f1ado"_s;
    } else {
        const std::optional<Slot> slots[] = {
            slotOf(QByteArrayView(head).sliced(kSlotsAt, kSlotSize)),
            slotOf(QByteArrayView(head).sliced(kSlotsAt + kSlotSize, kSlotSize))};
        if (!slots[0] && !slots[1]) {
            damage << u"su encabezado estaba da\u00f1ado"_s;
        } else {
            m_slot = !slots[0] || (slots[1] && slots[1]->generation > slots[0]->generation) ? 1 : 0;
            m_generation = slots[m_slot]->generation;
            after = slots[m_slot]->number;
            // Past the end: the file was cut back after a full confirm and the new slot never made
            // it to the disk. Every row in it had been confirmed then.
            start = std::min(slots[m_slot]->confirmed, size);
        }
    }
    const bool headerLost = !damage.isEmpty();

    // With the header lost nothing tells what was confirmed: every row found is sent again, and
    // the database's identity of the reading keeps it from being stored twice.
    // Read twice when damaged: first to find the damage, then to copy the good rows, so that a
    // day's backlog is never held in memory.
    base::JournalReader reader(*m_file, start, after);
    qint64 rows = 0;
    std::optional<quint64> firstNumber;
    qint64 unreadable = 0;
    while (std::optional<base::JournalRecord> record = reader.next()) {
        if (!PendingRow::decoded(record->bytes)) {
            ++unreadable;
            continue;
        }
        if (!firstNumber)
            firstNumber = record->number;
        ++rows;
    }
    for (const base::JournalReader::Skipped& skipped : reader.skipped()) {
        if (skipped.lost && skipped.to < size)
            damage << u"se perdieron %1 entre los bytes %2 y %3"_s.arg(rowsText(qint64(*skipped.lost)))
                          .arg(skipped.from)
                          .arg(skipped.to);
        else if (skipped.to < size)
            damage << u"se perdieron las filas entre los bytes %1 y %2"_s.arg(skipped.from).arg(skipped.to);
        else
            damage
                << u"se descartaron sus \u00faltimos %1 bytes, desde el byte %2 (filas cortadas o ilegibles)"_s
                       .arg(skipped.to - skipped.from)
                       .arg(skipped.from);
    }
    if (unreadable > 0)
        damage << u"%1 registros no eran filas y se omitieron"_s.arg(unreadable);

    m_writtenRows = rows;
    if (damage.isEmpty()) {
        m_numberBase = firstNumber ? *firstNumber - 1 : *after;
        m_confirmedNumber = m_numberBase;
        m_file->setNextNumber(m_numberBase + m_writtenRows + 1);
        if (rows == 0 && (size > kHeaderSize || start != kHeaderSize)) {
            m_file->truncate(kHeaderSize);
            start = kHeaderSize;
            writeHeader();
        }
        m_confirmed = start - kHeaderSize;
        m_end = m_file->size() - kHeaderSize;
        return true;
    }

    // The damaged file is kept as it was before anything is written; a sound one takes its place
    // with the readable rows, numbered on from what was confirmed.
    QString aside;
    try {
        aside = base::JournalFile::keepAside(m_path);
        m_numberBase = after.value_or(0);
        const std::shared_ptr<base::JournalFile> damaged = m_file;
        m_file = base::JournalFile::replace(
            m_path,
            [&](base::JournalFile& sound) {
                sound.writeAt(0, headerBytes(m_numberBase));
                sound.setNextNumber(m_numberBase + 1);
                base::JournalReader again(*damaged, start, after);
                QList<QByteArray> batch;
                while (std::optional<base::JournalRecord> record = again.next()) {
                    if (!PendingRow::decoded(record->bytes))
                        continue;
                    batch.push_back(std::move(record->bytes));
                    if (batch.size() == 4096)
                        sound.append(std::exchange(batch, {}));
                }
                sound.append(batch);
            },
            m_io);
        m_file->setWriteFault(m_fault);
    } catch (const base::Error& e) {
        m_file.reset();
        m_blockedReason =
            u"El archivo \"%1\" est\u00e1 da\u00f1ado y no se pudo reparar (%2); no se toman filas "
            u"nuevas hasta poder guardarlas"_s.arg(m_path, e.message());
        return false;
    }
    m_confirmedNumber = m_numberBase;
    startOver();
    m_damage =
        u"El archivo de filas en espera \"%1\" estaba da\u00f1ado: %2. %3 siguen en espera%4; el archivo "
        u"da\u00f1ado qued\u00f3 apartado como \"%5\"."_s.arg(
            m_path, damage.join(u"; "_s), rowsText(rows),
            headerLost ? u" y se env\u00edan todas de nuevo (las que ya "
                         u"estaban guardadas no se guardan dos veces)"_s
                       : QString(),
            aside);
    return true;
}

void RowOutbox::startOver() {
    m_generation = 1;
    m_slot = 0;
    m_confirmed = 0;
    m_end = m_file->size() - kHeaderSize;
}

bool RowOutbox::convertFormerFormat() {
    // The rows not yet confirmed, read by the former rules, go in their order into a file of the
    // present format put in its place, the former file kept beside it as it was.
    const QByteArray head = m_file->readAt(0, kFormerHeaderSize);
    const std::optional<qint64> confirmed = formerConfirmed(head, m_file->size());
    qint64 rows = 0;
    bool damaged = false;
    QString aside;
    try {
        aside = base::JournalFile::keepFormerFormat(m_path);
        const std::shared_ptr<base::JournalFile> former = m_file;
        m_file = base::JournalFile::replace(
            m_path,
            [&](base::JournalFile& file) {
                file.writeAt(0, headerBytes(0));
                base::FormerJournalReader reader(*former, confirmed.value_or(kFormerHeaderSize));
                QList<QByteArray> batch;
                while (std::optional<QByteArray> record = reader.next()) {
                    // That version stopped at the first record that was no row.
                    if (!PendingRow::decoded(*record))
                        break;
                    batch.push_back(std::move(*record));
                    ++rows;
                    if (batch.size() == 4096)
                        file.append(std::exchange(batch, {}));
                }
                file.append(batch);
                damaged = reader.position() < former->size();
            },
            m_io);
        m_file->setWriteFault(m_fault);
    } catch (const base::Error& e) {
        m_file.reset();
        m_blockedReason =
            u"El archivo de filas en espera \"%1\" tiene el formato anterior y no se pudo pasar "
            u"al formato nuevo (%2); no se toman filas nuevas hasta poder guardarlas"_s.arg(m_path,
                                                                                            e.message());
        return false;
    }
    m_numberBase = 0;
    m_confirmedNumber = 0;
    m_writtenRows = rows;
    startOver();
    QString notice =
        u"El archivo de filas en espera \"%1\" ten\u00eda el formato anterior: sus %2 en espera pasaron al "
        u"formato nuevo"_s.arg(m_path, rowsText(rows));
    if (!confirmed)
        notice +=
            u" (su encabezado estaba da\u00f1ado: se env\u00edan todas de nuevo, y las ya guardadas no se "
            u"guardan dos veces)"_s;
    if (damaged)
        notice += u"; su final estaba da\u00f1ado y se descart\u00f3"_s;
    m_notices << notice + u". El archivo anterior qued\u00f3 apartado como \"%1\"."_s.arg(aside);
    return true;
}

qint64 RowOutbox::physical(qint64 position) const {
    return position - m_base + kHeaderSize;
}

void RowOutbox::writeHeader() {
    m_headerStale = true;
    const int slot = 1 - m_slot;
    m_file->writeAt(kSlotsAt + slot * kSlotSize,
                    slotBytes({m_generation + 1, physical(m_confirmed), m_confirmedNumber}));
    m_slot = slot;
    ++m_generation;
    m_headerStale = false;
}

void RowOutbox::append(const PendingRow& row) {
    QByteArray bytes = row.encoded();
    const QMutexLocker lock(&m_mutex);
    if (m_written)
        m_written();
    if (!m_file) {
        m_kept.push_back({row, std::move(bytes), 0});
        return;
    }
    place({row, std::move(bytes), 0});
    if (m_unwrittenBytes < kMostUnwrittenBytes || m_writeRefused || m_putBackFailed)
        return;
    try {
        writeUnwritten();
    } catch (const base::Error&) {
        // Blocked: the next sync or retry writes them.
    }
}

bool RowOutbox::blocked() const {
    const QMutexLocker lock(&m_mutex);
    return !m_kept.empty() || !m_file || m_putBackFailed || m_writeRefused;
}

QString RowOutbox::blockedReason() const {
    const QMutexLocker lock(&m_mutex);
    return m_blockedReason;
}

bool RowOutbox::retry() {
    const QMutexLocker lock(&m_mutex);
    if (!m_file) {
        // Opened late: what it holds is older than the rows kept meanwhile, and goes first.
        if (!open())
            return false;
        m_blockedReason.clear();
        m_notices
            << u"El archivo de filas en espera \"%1\" se pudo abrir; la estaci\u00f3n toma filas otra vez"_s
                   .arg(m_path);
        if (!m_damage.isEmpty())
            m_notices << m_damage;
        placeKept();
    }
    if (m_putBackFailed) {
        putBack();
        if (m_putBackFailed)
            return false;
    }
    try {
        if (m_headerStale)
            writeHeader();
        writeUnwritten();
    } catch (const base::Error& e) {
        m_blockedReason = e.message();
        return false;
    }
    m_blockedReason.clear();
    return true;
}

void RowOutbox::place(Unwritten row) {
    row.end = m_end + base::JournalFile::kFrame + row.bytes.size();
    m_unwrittenBytes += row.bytes.size();
    m_end = row.end;
    m_unwritten.push_back(std::move(row));
    ++m_writtenRows;
}

void RowOutbox::placeKept() {
    for (Unwritten& row : m_kept)
        place(std::move(row));
    m_kept.clear();
}

qint64 RowOutbox::fileEnd() const {
    return m_base + m_file->size() - kHeaderSize;
}

void RowOutbox::cutBackConfirmed() {
    const bool leaving = !m_unwritten.empty() && m_unwritten.front().end <= m_confirmed;
    if (m_readers > 0 || m_confirmed < fileEnd() || (m_file->size() == kHeaderSize && !leaving))
        return;
    if (m_file->size() > kHeaderSize) {
        try {
            m_file->truncate(kHeaderSize);
        } catch (const base::Error&) {
            // Confirmed rows left in the file cost only room; the next full confirm cuts again.
            return;
        }
    }
    // Row numbers count every row, also those that never reach the file.
    quint64 left = 0;
    while (!m_unwritten.empty() && m_unwritten.front().end <= m_confirmed) {
        m_unwrittenBytes -= m_unwritten.front().bytes.size();
        m_unwritten.pop_front();
        ++left;
    }
    m_file->setNextNumber(m_file->nextNumber() + left);
    m_base = m_confirmed;
    // The header's slot must point at the new beginning before any row goes in.
    m_headerStale = true;
}

void RowOutbox::writeUnwritten() {
    cutBackConfirmed();
    if (!m_unwritten.empty()) {
        QList<QByteArray> records;
        records.reserve(qsizetype(m_unwritten.size()));
        for (const Unwritten& row : m_unwritten)
            records.append(row.bytes);
        try {
            if (m_headerStale)
                writeHeader();
            m_file->append(records);
        } catch (const base::Error& e) {
            m_writeRefused = true;
            m_blockedReason = e.message();
            throw;
        }
        m_unwritten.clear();
        m_unwrittenBytes = 0;
    }
    if (m_writeRefused) {
        m_writeRefused = false;
        m_blockedReason.clear();
    }
}

std::deque<RowOutbox::Unwritten>::const_iterator RowOutbox::unwrittenEndingAt(qint64 position) const {
    const auto it = std::lower_bound(m_unwritten.begin(), m_unwritten.end(), position,
                                     [](const Unwritten& u, qint64 p) { return u.end < p; });
    return it != m_unwritten.end() && it->end == position ? it : m_unwritten.end();
}

void RowOutbox::checkFile() {
    const QMutexLocker lock(&m_mutex);
    if (!m_file || m_file->stillAtPath())
        return;
    putBack();
}

void RowOutbox::putBack() {
    // Every unconfirmed row is still readable through the open descriptor: they go, framed and
    // numbered as they are, into a new file at the path. Readers in progress keep a descriptor of
    // the old file, and positions stay what they were.
    // Rows confirmed before they were written are not in the file: it holds rows up to its end.
    const qint64 first = std::min(m_confirmed.load(), fileEnd());
    const qint64 from = physical(first);
    const auto copy = [&](base::JournalFile& sound) {
        sound.writeAt(0, headerBytes(m_confirmedNumber));
        for (qint64 at = from; at < m_file->size(); at += kCopyChunk)
            sound.writeAt(sound.size(), m_file->readAt(at, kCopyChunk));
    };
    const qint64 rows = m_writtenRows - m_confirmedRows;
    try {
        const QString aside = base::JournalFile::keepAsideAnyFileAt(m_path);
        std::shared_ptr<base::JournalFile> file = base::JournalFile::replace(m_path, copy, m_io);
        file->setWriteFault(m_fault);
        file->setNextNumber(m_file->nextNumber());
        m_file = std::move(file);
        m_base = first;
        m_generation = 1;
        m_slot = 0;
        m_headerStale = m_confirmed > first;
        m_putBackFailed = false;
        if (!m_writeRefused)
            m_blockedReason.clear();
        m_notices
            << u"El archivo de filas en espera \"%1\" fue borrado o reemplazado mientras la estaci\u00f3n "
               u"funcionaba; se escribi\u00f3 de nuevo con las %2 filas que esperaban%3"_s.arg(m_path)
                   .arg(rows)
                   .arg(aside.isEmpty()
                            ? QString()
                            : u" (el archivo que lo reemplaz\u00f3 qued\u00f3 apartado como \"%1\")"_s.arg(
                                  aside));
    } catch (const base::Error& e) {
        // The old file holds the rows only while the station runs: no new row is taken (as on a
        // full disk) until the file is back; tried again at every retry.
        m_putBackFailed = true;
        m_blockedReason =
            u"El archivo de filas en espera \"%1\" fue borrado o reemplazado y no se pudo escribir de "
            u"nuevo (%2); no se toman filas nuevas hasta poder guardarlas"_s.arg(m_path, e.message());
    }
}

QStringList RowOutbox::takeNotices() {
    const QMutexLocker lock(&m_mutex);
    return std::exchange(m_notices, {});
}

qint64 RowOutbox::adopt(const QString& otherPath) {
    if (!QFileInfo::exists(otherPath))
        return 0;
    // Taken over only into a file: rows kept in memory would be lost to a kill with the other file
    // gone, or be taken over twice with it left.
    if (blocked())
        throw base::Error(blockedReason());
    qint64 rows = 0;
    {
        const RowOutbox other(otherPath, m_io);
        if (!other.m_file)
            throw base::Error(other.m_blockedReason);
        for (qint64 from = other.confirmedPosition();;) {
            const std::vector<Entry> batch = other.read(from, 4096);
            if (batch.empty())
                break;
            for (const Entry& entry : batch)
                append(entry.row);
            from = batch.back().end;
            rows += qint64(batch.size());
        }
    }
    if (blocked())
        throw base::Error(blockedReason());
    sync();
    QFile::remove(otherPath);
    return rows;
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
    const auto noRowEnd = [&] {
        // Anything else would leave a confirmed offset inside a row, and every later opening would
        // take the rest of the file for damage.
        return base::Error(
            u"La posici\u00f3n %1 del archivo \"%2\" no es el final de una fila en espera"_s.arg(position)
                .arg(m_path));
    };
    if (position > fileEnd()) {
        // Not yet written: the last rows, counted back from the end.
        const auto it = unwrittenEndingAt(position);
        if (it == m_unwritten.end())
            throw noRowEnd();
        return m_writtenRows - qint64(m_unwritten.end() - it) + 1;
    }
    base::JournalReader reader(*m_file, physical(m_confirmed), std::nullopt, physical(position));
    qint64 rows = m_confirmedRows;
    while (reader.next())
        ++rows;
    if (reader.damaged() || reader.position() != physical(position))
        throw noRowEnd();
    return rows;
}

std::vector<RowOutbox::Entry> RowOutbox::read(qint64 from, qsizetype most) const {
    std::vector<Entry> entries;
    qint64 start = 0;
    qint64 limit = 0;
    qint64 base = 0;
    std::optional<qint64> rowsBefore;
    std::unique_ptr<const base::JournalFile> file;
    {
        const QMutexLocker lock(&m_mutex);
        from = std::max(from, m_confirmed.load()); // confirmed rows may be gone from the file
        if (most <= 0 || from >= m_end || !m_file)
            return entries;
        if (from >= fileEnd()) {
            readUnwritten(from, most, entries);
            rememberHandedOut(entries, knownRowsUpTo(from));
            return entries;
        }
        start = physical(from);
        limit = physical(fileEnd());
        base = m_base;
        rowsBefore = knownRowsUpTo(from);
        // A descriptor of its own, so that the core's appends go on meanwhile: they only add bytes
        // past `limit`, and nothing is cut back while a read is in progress. Taken from the open
        // file, never by its name: the name may no longer be this file.
        file = m_file->reader();
        ++m_readers;
    }
    const auto done = qScopeGuard([this] {
        const QMutexLocker lock(&m_mutex);
        --m_readers;
    });

    // Read ahead for about the rows asked for, not for the whole backlog behind them.
    base::JournalReader reader(*file, start, std::nullopt, limit, std::max<qint64>(4096, most * 256));
    const auto unreadable = [&] {
        return base::Error(u"No se pudo leer la fila en espera de la posici\u00f3n %1 del archivo \"%2\""_s
                               .arg(base + reader.position() - kHeaderSize)
                               .arg(m_path));
    };
    entries.reserve(static_cast<std::size_t>(std::min<qsizetype>(most, 4096)));
    while (qsizetype(entries.size()) < most && reader.position() < limit) {
        std::optional<base::JournalRecord> record = reader.next();
        if (!record || reader.damaged())
            throw unreadable();
        std::optional<PendingRow> row = PendingRow::decoded(record->bytes);
        if (!row)
            throw unreadable();
        entries.push_back({std::move(*row), base + record->end - kHeaderSize});
    }
    const QMutexLocker lock(&m_mutex);
    // Then on in memory, unless a sync wrote those rows meanwhile.
    if (const qint64 reached = entries.empty() ? from : entries.back().end;
        qsizetype(entries.size()) < most && reached == fileEnd())
        readUnwritten(reached, most, entries);
    rememberHandedOut(entries, rowsBefore);
    return entries;
}

void RowOutbox::readUnwritten(qint64 from, qsizetype most, std::vector<Entry>& entries) const {
    auto it = m_unwritten.begin();
    if (from > fileEnd()) {
        it = unwrittenEndingAt(from);
        if (it == m_unwritten.end())
            throw base::Error(
                u"La posici\u00f3n %1 del archivo \"%2\" no es el comienzo de una fila en espera"_s.arg(from)
                    .arg(m_path));
        ++it;
    }
    for (; it != m_unwritten.end() && qsizetype(entries.size()) < most; ++it)
        entries.push_back({it->row, it->end});
}

void RowOutbox::rememberHandedOut(const std::vector<Entry>& entries, std::optional<qint64> rowsBefore) const {
    if (!rowsBefore)
        return;
    qint64 rows = *rowsBefore;
    for (const Entry& entry : entries) {
        ++rows;
        if (entry.end > m_confirmed && (m_handedOut.empty() || entry.end > m_handedOut.back().end) &&
            m_handedOut.size() < kMostHandedOut)
            m_handedOut.push_back({entry.end, rows});
    }
}

qint64 RowOutbox::confirmedPosition() const {
    return m_confirmed;
}

qint64 RowOutbox::endPosition() const {
    return m_end;
}

void RowOutbox::confirm(qint64 position) {
    const QMutexLocker lock(&m_mutex);
    if (position <= m_confirmed)
        return;
    if (m_written)
        m_written();
    if (position > m_end || !m_file)
        throw base::Error(
            u"La posici\u00f3n %1 del archivo \"%2\" est\u00e1 m\u00e1s all\u00e1 de sus filas"_s
                .arg(position)
                .arg(m_path));
    m_confirmedRows = rowsUpTo(position);
    m_confirmedNumber = m_numberBase + quint64(m_confirmedRows);
    m_confirmed = position;
    while (!m_handedOut.empty() && m_handedOut.front().end <= position)
        m_handedOut.pop_front();
    cutBackConfirmed();
    try {
        writeHeader();
    } catch (const base::Error&) {
        // Stale: the next append or sync writes it first, and sync() reports when it cannot.
    }
}

qint64 RowOutbox::pendingCount() const {
    const QMutexLocker lock(&m_mutex);
    return m_writtenRows - m_confirmedRows + qint64(m_kept.size());
}

void RowOutbox::sync() {
    std::shared_ptr<base::JournalFile> file;
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_file) {
            // Rows kept in memory must not pass for forced.
            if (!m_kept.empty())
                throw base::Error(m_blockedReason);
            return;
        }
        if (!m_file->stillAtPath())
            putBack();
        if (m_putBackFailed)
            throw base::Error(m_blockedReason);
        writeUnwritten();
        if (m_headerStale)
            writeHeader();
        file = m_file;
    }
    // Outside the lock, so that the core's appends do not wait for the disk: the flush uses only the
    // descriptor, kept alive here should the file be put back meanwhile.
    file->sync();
}

void RowOutbox::setWriteObserver(std::function<void()> written) {
    const QMutexLocker lock(&m_mutex);
    m_written = std::move(written);
}

void RowOutbox::setWriteFault(base::JournalFile::WriteFault fault) {
    const QMutexLocker lock(&m_mutex);
    m_fault = fault;
    if (m_file)
        m_file->setWriteFault(std::move(fault));
}

} // namespace storage
