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

QString refusal(const base::Error& error) {
    return u"El diario de lecturas no se puede escribir; la recepción queda detenida: %1"_s.arg(
        error.message());
}

} // namespace

IntakeJournal::IntakeJournal(const QString& path)
    : m_file(std::make_unique<base::JournalFile>(path)) {
    m_unread = m_file->size() > 0;
}

IntakeJournal::~IntakeJournal() = default;

IntakeJournal::Recovered IntakeJournal::recover() {
    QMutexLocker lock(&m_mutex);
    // Only the lines still undone are held: a done mark always follows its line in the file, so
    // a line leaves memory as soon as its mark is read.
    std::list<JournaledLine> open;
    std::unordered_map<base::LineId, std::list<JournaledLine>::iterator, IdHash> where;
    qsizetype unreadable = 0;
    base::JournalReader reader(*m_file, 0);
    while (const std::optional<QByteArray> record = reader.next()) {
        base::ByteReader in(*record);
        quint8 kind = 0;
        in.get(kind);
        if (kind == kLine) {
            JournaledLine line;
            if (in.get(line.id.run) && in.get(line.id.sequence) && in.get(line.source) && in.get(line.text) &&
                in.atEnd() && !where.contains(line.id)) {
                open.push_back(std::move(line));
                where.emplace(open.back().id, std::prev(open.end()));
                continue;
            }
        } else if (kind == kDone) {
            quint32 count = 0;
            if (in.get(count)) {
                base::LineId id;
                for (quint32 i = 0; i < count && in.get(id.run) && in.get(id.sequence); ++i) {
                    if (const auto found = where.find(id); found != where.end()) {
                        open.erase(found->second);
                        where.erase(found);
                    }
                }
                if (in.atEnd())
                    continue;
            }
        }
        // Whole and checksummed, yet not a record this station writes: it tells nothing, and the
        // lines after it are still good.
        ++unreadable;
    }

    Recovered out;
    QStringList damage;
    if (reader.damaged()) {
        const qint64 dropped = m_file->size() - reader.position();
        // Lines appended after a torn record would never be read back.
        m_file->truncate(reader.position());
        damage << u"El diario de lecturas terminaba en un registro dañado (un corte de corriente o un "
                  u"cierre forzado): se descartaron %1 bytes del final."_s.arg(dropped);
    }
    if (unreadable > 0)
        damage << u"El diario de lecturas tenía %1 registros ilegibles, que se omitieron."_s.arg(unreadable);
    out.damage = damage.join(u' ');

    m_unread = false;
    if (open.empty() && m_file->size() > 0)
        m_file->truncate(0);
    out.lines.reserve(open.size());
    for (JournaledLine& line : open) {
        m_undone.insert(line.id);
        out.lines.push_back(std::move(line));
    }
    return out;
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
    {
        QMutexLocker lock(&m_mutex);
        // A mark for a line never journaled, or given twice, changes nothing.
        std::unordered_set<base::LineId, IdHash> fresh;
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
    // the descriptor, which lives as long as the journal.
    try {
        m_file->sync();
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
    m_file->setWriteFault(std::move(fault));
}

} // namespace station
