#include "station/IntakeJournal.h"

#include "base/ByteCodec.h"
#include "base/Error.h"

#include <QStringList>

#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>

using namespace Qt::StringLiterals;

namespace station {

namespace {

// The first byte of every record says what it holds.
enum Kind : quint8 {
    kLine = 1, // run, sequence, source, text
    kDone = 2, // a count, then run and sequence of each line done
};

QByteArray lineRecord(const JournaledLine& line) {
    QByteArray out;
    out.reserve(1 + 3 * 8 + 4 + line.text.size());
    base::ByteWriter(out)
        .put(quint8(kLine))
        .put(line.id.run)
        .put(line.id.sequence)
        .put(line.source)
        .put(line.text);
    return out;
}

QByteArray doneRecord(const std::vector<base::LineId>& ids) {
    QByteArray out;
    out.reserve(1 + 4 + qsizetype(ids.size()) * 16);
    base::ByteWriter writer(out);
    writer.put(quint8(kDone)).put(quint32(ids.size()));
    for (const base::LineId& id : ids)
        writer.put(id.run).put(id.sequence);
    return out;
}

// A line record's fields after its kind; nothing unless they make a whole line.
std::optional<JournaledLine> readLine(base::ByteReader& in) {
    JournaledLine line;
    if (in.get(line.id.run) && in.get(line.id.sequence) && in.get(line.source) && in.get(line.text) &&
        in.atEnd())
        return line;
    return std::nullopt;
}

// The lines read and not done while a file is read through, in their order. Only those are held:
// a done mark always follows its line, so a line leaves memory as soon as its mark is read.
class OpenLines {
public:
    const std::list<JournaledLine>& lines() const { return m_lines; }
    qint64 size() const { return qint64(m_lines.size()); }

    // False for a line read already.
    bool add(JournaledLine line) {
        if (m_where.contains(line.id))
            return false;
        m_lines.push_back(std::move(line));
        m_where.emplace(m_lines.back().id, std::prev(m_lines.end()));
        return true;
    }

    // A done record's fields after its kind; whether they were whole.
    bool markDone(base::ByteReader& in) {
        quint32 count = 0;
        if (!in.get(count))
            return false;
        base::LineId id;
        for (quint32 i = 0; i < count && in.get(id.run) && in.get(id.sequence); ++i) {
            if (const auto found = m_where.find(id); found != m_where.end()) {
                m_lines.erase(found->second);
                m_where.erase(found);
            }
        }
        return in.atEnd();
    }

    std::list<JournaledLine> take() { return std::exchange(m_lines, {}); }

    // The lines as the records of a sound file, numbered from 1.
    QByteArray framed() const {
        QByteArray bytes;
        quint64 number = 0;
        for (const JournaledLine& line : m_lines)
            base::JournalFile::appendFrame(bytes, ++number, lineRecord(line));
        return bytes;
    }

private:
    std::list<JournaledLine> m_lines;
    std::unordered_map<base::LineId, std::list<JournaledLine>::iterator> m_where;
};

QString refusal(const base::Error& error) {
    return u"El diario de lecturas no se puede escribir; la recepción queda detenida: %1"_s.arg(
        error.message());
}

QString linesText(qint64 n) {
    return n == 1 ? u"1 l\u00ednea"_s : u"%1 l\u00edneas"_s.arg(n);
}

// A journal an earlier version wrote: no header, records in the former framing, the first one a
// line or a done mark (base::FormerJournalReader).
bool isFormerFormat(const base::JournalFile& file) {
    if (file.size() == 0 || !base::FormerJournalReader::framedAt(file, 0))
        return false;
    const std::optional<QByteArray> first = base::FormerJournalReader(file, 0).next();
    return first && !first->isEmpty() && (first->at(0) == char(kLine) || first->at(0) == char(kDone));
}

} // namespace

IntakeJournal::IntakeJournal(const QString& path, base::JournalIo& io)
    : m_path(path)
    , m_io(io) {
    if (open())
        m_unread = m_file->size() > 0;
}

IntakeJournal::~IntakeJournal() = default;

bool IntakeJournal::open() {
    try {
        m_file = std::make_shared<base::JournalFile>(m_path, m_io);
        m_file->setWriteFault(m_fault);
    } catch (const base::Error& e) {
        m_blockedReason =
            u"El diario de lecturas no se puede abrir; la recepci\u00f3n queda detenida: %1"_s.arg(
                e.message());
        m_blocked = true;
        return false;
    }
    return !isFormerFormat(*m_file) || convertFormerFormat();
}

bool IntakeJournal::convertFormerFormat() {
    // The lines not done, read as that version did (up to the first damaged record, skipping
    // records that were no line or mark), go in their order into a file of the present format put
    // in its place, the former file kept beside it as it was.
    OpenLines open;
    base::FormerJournalReader reader(*m_file, 0);
    while (const std::optional<QByteArray> record = reader.next()) {
        base::ByteReader in(*record);
        quint8 kind = 0;
        in.get(kind);
        if (kind == kLine) {
            if (std::optional<JournaledLine> line = readLine(in))
                open.add(std::move(*line));
        } else if (kind == kDone) {
            open.markDone(in);
        }
    }
    const bool damaged = reader.damaged();
    QString aside;
    try {
        aside = base::JournalFile::keepFormerFormat(m_path);
        m_file = base::JournalFile::replace(m_path, open.framed(), m_io);
        m_file->setWriteFault(m_fault);
    } catch (const base::Error& e) {
        m_file.reset();
        m_blockedReason = u"El diario de lecturas \"%1\" tiene el formato anterior y no se pudo pasar al "
                          u"formato nuevo; la recepci\u00f3n queda detenida: %2"_s.arg(m_path, e.message());
        m_blocked = true;
        return false;
    }
    m_notices << u"El diario de lecturas \"%1\" ten\u00eda el formato anterior: sus %2 sin trabajar pasaron "
                 u"al formato nuevo%3. El archivo anterior qued\u00f3 apartado como \"%4\"."_s.arg(
                     m_path, linesText(open.size()),
                     damaged ? u"; su final estaba da\u00f1ado y se descart\u00f3"_s : QString(), aside);
    return true;
}

IntakeJournal::Recovered IntakeJournal::recover() {
    QMutexLocker lock(&m_mutex);
    Recovered out;
    if (!m_file)
        return out;
    OpenLines open;
    qsizetype unreadable = 0;
    // The lines a damaged stretch took, told by the sequences of the lines on either side of it.
    std::optional<base::LineId> lastLine;
    std::vector<std::optional<qint64>> linesLost;
    std::optional<std::size_t> stretchOpen;
    std::optional<base::LineId> lineBefore;
    quint64 lastNumber = 0;
    base::JournalReader reader(*m_file, 0);
    while (const std::optional<base::JournalRecord> record = reader.next()) {
        lastNumber = record->number;
        if (reader.skipped().size() > linesLost.size()) {
            linesLost.resize(reader.skipped().size());
            stretchOpen = linesLost.size() - 1;
            lineBefore = lastLine;
        }
        base::ByteReader in(record->bytes);
        quint8 kind = 0;
        in.get(kind);
        if (kind == kLine) {
            std::optional<JournaledLine> line = readLine(in);
            const std::optional<base::LineId> id = line ? std::optional(line->id) : std::nullopt;
            if (line && open.add(std::move(*line))) {
                if (stretchOpen && lineBefore && lineBefore->run == id->run &&
                    id->sequence > lineBefore->sequence)
                    linesLost[*stretchOpen] = qint64(id->sequence - lineBefore->sequence - 1);
                stretchOpen.reset();
                lastLine = id;
                continue;
            }
        } else if (kind == kDone) {
            if (open.markDone(in))
                continue;
        }
        // Whole and checksummed, yet not a record this station writes: it tells nothing, and the
        // lines after it are still good.
        ++unreadable;
    }
    linesLost.resize(reader.skipped().size());

    QStringList damage;
    for (std::size_t i = 0; i < reader.skipped().size(); ++i) {
        const base::JournalReader::Skipped& skipped = reader.skipped()[i];
        if (skipped.to == m_file->size())
            damage << u"se descartaron sus \u00faltimos %1 bytes, desde el byte %2 (l\u00edneas cortadas por "
                      u"un corte "
                      u"de corriente o ilegibles)"_s.arg(skipped.to - skipped.from)
                          .arg(skipped.from);
        else if (linesLost[i])
            damage << u"se perdieron %1 entre los bytes %2 y %3"_s.arg(linesText(*linesLost[i]))
                          .arg(skipped.from)
                          .arg(skipped.to);
        else if (skipped.lost)
            damage << u"se perdieron %1 registros (l\u00edneas o marcas de hecho) entre los bytes %2 y %3"_s
                          .arg(*skipped.lost)
                          .arg(skipped.from)
                          .arg(skipped.to);
        else
            damage << u"se perdieron las l\u00edneas entre los bytes %1 y %2"_s.arg(skipped.from)
                          .arg(skipped.to);
    }
    if (unreadable > 0)
        damage << u"%1 registros no eran de la estaci\u00f3n y se omitieron"_s.arg(unreadable);

    if (!damage.isEmpty()) {
        // The damaged file is kept as it was before anything is written; a sound one takes its
        // place with the lines not done, in their order. A line whose done mark was lost is worked
        // again, and its row is not stored twice.
        const QString aside = base::JournalFile::keepAside(m_path);
        m_file = base::JournalFile::replace(m_path, open.framed(), m_io);
        m_file->setWriteFault(m_fault);
        lastNumber = quint64(open.size());
        out.damage =
            u"El diario de lecturas \"%1\" estaba da\u00f1ado: %2. %3 sin trabajar se trabajan ahora; el "
            u"archivo da\u00f1ado qued\u00f3 apartado como \"%4\"."_s.arg(m_path, damage.join(u"; "_s),
                                                                          linesText(open.size()), aside);
    }
    // Numbers go on after a cut-back: bytes a power cut brings back from before it stay older.
    m_file->setNextNumber(lastNumber + 1);

    m_unread = false;
    if (open.size() == 0 && m_file->size() > 0)
        m_file->truncate(0);
    out.lines.reserve(std::size_t(open.size()));
    for (JournaledLine& line : open.take()) {
        m_undone.insert(line.id);
        out.lines.push_back(std::move(line));
    }
    return out;
}

void IntakeJournal::checkFile() {
    QMutexLocker lock(&m_mutex);
    if (m_file && !m_file->stillAtPath())
        putBack();
}

void IntakeJournal::putBack() {
    // The lines not done are still readable through the open descriptor; they go, in their order,
    // into a new file at the path. Before recover() every record goes: none was read yet.
    QByteArray bytes;
    quint64 number = 0;
    qint64 lines = 0;
    base::JournalReader reader(*m_file, 0);
    while (const std::optional<base::JournalRecord> record = reader.next()) {
        base::ByteReader in(record->bytes);
        quint8 kind = 0;
        base::LineId id;
        const bool undone =
            in.get(kind) && kind == kLine && in.get(id.run) && in.get(id.sequence) && m_undone.contains(id);
        if (m_unread || undone) {
            base::JournalFile::appendFrame(bytes, ++number, record->bytes);
            lines += undone ? 1 : 0;
        }
    }
    try {
        const QString aside = base::JournalFile::keepAsideAnyFileAt(m_path);
        std::shared_ptr<base::JournalFile> file = base::JournalFile::replace(m_path, bytes, m_io);
        file->setWriteFault(m_fault);
        file->setNextNumber(number + 1);
        m_file = std::move(file);
        // Marks not yet written belong to lines that are not in the new file.
        m_unwritten.clear();
        if (std::exchange(m_putBackFailed, false) && m_kept.empty() && !m_syncOwed) {
            m_blockedReason.clear();
            m_blocked = false;
        }
        m_notices << u"El diario de lecturas \"%1\" fue borrado o reemplazado mientras la estaci\u00f3n "
                     u"funcionaba; "
                     u"se escribi\u00f3 de nuevo con las %2 sin trabajar%3"_s.arg(m_path, linesText(lines))
                         .arg(aside.isEmpty()
                                  ? QString()
                                  : u" (el archivo que lo reemplaz\u00f3 qued\u00f3 apartado como \"%1\")"_s
                                        .arg(aside));
    } catch (const base::Error& e) {
        // The old file holds the lines only while the station runs: the intake stops (as on a full
        // disk) until the file is back.
        m_putBackFailed = true;
        m_blockedReason =
            u"El diario de lecturas \"%1\" fue borrado o reemplazado y no se pudo escribir de nuevo "
            u"(%2); la recepci\u00f3n queda detenida"_s.arg(m_path, e.message());
        m_blocked = true;
    }
}

QStringList IntakeJournal::takeNotices() {
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_notices, {});
}

void IntakeJournal::append(const std::vector<JournaledLine>& lines) {
    if (lines.empty())
        return;
    QList<QByteArray> records;
    records.reserve(qsizetype(lines.size()));
    for (const JournaledLine& line : lines)
        records.push_back(lineRecord(line));

    QMutexLocker lock(&m_mutex);
    if (m_written)
        m_written();
    for (const JournaledLine& line : lines)
        m_undone.insert(line.id);
    // While lines are kept in memory, later ones wait behind them: the file keeps the order read.
    if (m_blockedReason.isEmpty()) {
        try {
            m_file->append(records);
            return;
        } catch (const base::Error& error) {
            m_blockedReason = refusal(error);
            m_blocked = true;
        }
    }
    for (qsizetype i = 0; i < records.size(); ++i)
        m_kept.push_back({lines[std::size_t(i)].id, std::move(records[i])});
}

bool IntakeJournal::blocked() const {
    return m_blocked;
}

QString IntakeJournal::blockedReason() const {
    QMutexLocker lock(&m_mutex);
    return m_blockedReason;
}

bool IntakeJournal::retry() {
    QMutexLocker lock(&m_mutex);
    if (!m_file) {
        if (!open())
            return false;
        if (m_file->size() > 0) {
            // Lines of an earlier run, found too late to be queued before the new ones: kept
            // aside for the operator rather than worked out of order or lost.
            try {
                const QString aside = base::JournalFile::keepAside(m_path);
                m_file = base::JournalFile::replace(m_path, QByteArrayView(), m_io);
                m_file->setWriteFault(m_fault);
                m_notices
                    << u"El diario de lecturas \"%1\" se pudo abrir cuando la estaci\u00f3n ya funcionaba; "
                       u"las l\u00edneas que guardaba de antes no se trabajaron y quedaron en \"%2\""_s.arg(
                           m_path, aside);
            } catch (const base::Error& error) {
                m_file.reset();
                m_blockedReason = refusal(error);
                return false;
            }
        }
        m_notices << u"El diario de lecturas \"%1\" se pudo abrir; la recepci\u00f3n sigue"_s.arg(m_path);
    }
    if (m_putBackFailed) {
        putBack();
        if (m_putBackFailed)
            return false;
    }
    try {
        if (!m_kept.empty()) {
            QList<QByteArray> records;
            records.reserve(qsizetype(m_kept.size()));
            for (const Kept& kept : m_kept)
                records.push_back(kept.record);
            m_file->append(records);
            m_kept.clear();
        }
        if (m_syncOwed) {
            m_file->sync();
            m_syncOwed = false;
        }
    } catch (const base::Error& error) {
        m_blockedReason = refusal(error);
        m_blocked = true;
        return false;
    }
    m_blockedReason.clear();
    m_blocked = false;
    return true;
}

void IntakeJournal::markDone(base::LineId id) {
    QMutexLocker lock(&m_marksMutex);
    if (m_collected.empty() && m_marked)
        m_marked();
    m_collected.push_back(id);
}

std::vector<base::LineId> IntakeJournal::takeDoneMarks() {
    QMutexLocker lock(&m_marksMutex);
    return std::exchange(m_collected, {});
}

void IntakeJournal::writeDoneMarks(const std::vector<base::LineId>& marks) {
    std::shared_ptr<base::JournalFile> file;
    {
        QMutexLocker lock(&m_mutex);
        if (m_file && !m_file->stillAtPath())
            putBack();
        // A mark for a line never journaled, or given twice, changes nothing.
        std::unordered_set<base::LineId> fresh;
        for (const base::LineId& id : marks) {
            if (m_undone.erase(id)) {
                m_unwritten.push_back(id);
                if (!m_kept.empty())
                    fresh.insert(id);
            }
        }
        // A line the disk refused and that is done already (its row is safe in the outbox) need
        // never be written.
        if (!fresh.empty())
            std::erase_if(m_kept, [&](const Kept& kept) { return fresh.contains(kept.id); });

        file = m_file;
        if (!file)
            return;
        if (m_undone.empty() && !m_unread) {
            // Every line in the file is done: cutting it back also frees a full disk, where the
            // marks themselves may not fit.
            try {
                m_file->truncate(0);
                m_unwritten.clear();
            } catch (const base::Error&) {
                // The marks then go to the file as usual.
            }
        }
        if (!m_unwritten.empty()) {
            try {
                m_file->append(doneRecord(m_unwritten));
                m_unwritten.clear();
            } catch (const base::Error&) {
                // Kept for the next call. Lines appended meanwhile are refused by the same full
                // disk and block the intake; a line without its mark is only worked twice.
            }
        }
    }
    // Outside the lock, so the intake's appends never wait for the disk: the sync touches only
    // the descriptor, kept alive here should the file be put back meanwhile.
    try {
        file->sync();
    } catch (const base::Error& error) {
        QMutexLocker lock(&m_mutex);
        m_syncOwed = true;
        m_blockedReason = refusal(error);
        m_blocked = true;
    }
}

void IntakeJournal::setWriteObserver(std::function<void()> written) {
    QMutexLocker lock(&m_mutex);
    QMutexLocker marks(&m_marksMutex);
    m_written = written;
    m_marked = std::move(written);
}

void IntakeJournal::setWriteFault(base::JournalFile::WriteFault fault) {
    QMutexLocker lock(&m_mutex);
    m_fault = fault;
    if (m_file)
        m_file->setWriteFault(std::move(fault));
}

} // namespace station
