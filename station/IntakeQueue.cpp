#include "station/IntakeQueue.h"

#include <QRandomGenerator>

namespace station {

namespace {

qsizetype bytesOf(const QString& line) {
    return line.size() * qsizetype(sizeof(QChar));
}

quint64 drawRun() {
    quint64 run = 0;
    // A zero run is what an identity never set reads as.
    while (run == 0)
        run = QRandomGenerator::system()->generate64();
    return run;
}

} // namespace

IntakeQueue::IntakeQueue(qsizetype highWaterMark, qsizetype highWaterBytes, QObject* parent)
    : QObject(parent)
    , m_highWaterMark(highWaterMark)
    , m_highWaterBytes(highWaterBytes)
    , m_run(drawRun()) {}

bool IntakeQueue::full() const {
    return m_count >= m_highWaterMark || m_bytes >= m_highWaterBytes;
}

bool IntakeQueue::pushesBackOn(const Source& source) const {
    if (m_count >= 2 * m_highWaterMark || m_bytes >= 2 * m_highWaterBytes)
        return true;
    if (!full())
        return false;
    const auto sources = qsizetype(m_sources.size());
    return qsizetype(source.items.size()) * sources >= m_count || source.bytes * sources >= m_bytes;
}

void IntakeQueue::push(QString line, base::LineId id, quint64 source) {
    const quint64 sequence = ++m_appended;
    const qsizetype bytes = bytesOf(line);
    m_bytes += bytes;
    ++m_count;
    Source& waiting = m_sources[source];
    // A source that had nothing waiting joins the end of the round.
    if (waiting.items.empty())
        m_turns.push_back(source);
    waiting.items.push_back({std::move(line), sequence, id});
    waiting.bytes += bytes;
}

bool IntakeQueue::release(quint64 source, const Source* waiting) {
    if (m_count <= m_highWaterMark / 2 && m_bytes <= m_highWaterBytes / 2) {
        const bool held = !m_held.empty();
        m_held.clear();
        return held;
    }
    if (m_count >= 2 * m_highWaterMark || m_bytes >= 2 * m_highWaterBytes || !m_held.contains(source))
        return false;
    if (waiting) {
        const auto sources = qsizetype(m_sources.size());
        if (2 * qsizetype(waiting->items.size()) * sources > m_count ||
            2 * waiting->bytes * sources > m_bytes)
            return false;
    }
    m_held.erase(source);
    return true;
}

bool IntakeQueue::appendBatch(std::vector<QString> lines, quint64 source) {
    if (lines.empty())
        return holdsBack();
    quint64 first;
    bool held;
    bool wasEmpty;
    bool journalBlocked = false;
    {
        QMutexLocker order(&m_appendMutex);
        // Only appenders move the sequence on, and they hold m_appendMutex.
        first = m_appended + 1;
        if (m_journal) {
            std::vector<JournaledLine> journaled;
            journaled.reserve(lines.size());
            for (std::size_t i = 0; i < lines.size(); ++i)
                journaled.push_back({{m_run, first + i}, source, lines[i]});
            m_journal->append(journaled);
            journalBlocked = m_journal->blocked();
        }
        QMutexLocker lock(&m_mutex);
        wasEmpty = m_count == 0;
        for (std::size_t i = 0; i < lines.size(); ++i)
            push(lines[i], {m_run, first + i}, source);
        if (pushesBackOn(m_sources[source]))
            m_held.insert(source);
        held = m_held.contains(source);
    }
    if (wasEmpty)
        Q_EMIT linesWaiting();
    for (std::size_t i = 0; i < lines.size(); ++i)
        Q_EMIT appended(first + i, lines[i]);
    return held || journalBlocked;
}

bool IntakeQueue::append(QString line, quint64 source) {
    std::vector<QString> batch;
    batch.push_back(std::move(line));
    return appendBatch(std::move(batch), source);
}

bool IntakeQueue::restore(std::vector<JournaledLine> lines) {
    quint64 first;
    bool wasEmpty;
    {
        QMutexLocker order(&m_appendMutex);
        QMutexLocker lock(&m_mutex);
        first = m_appended + 1;
        wasEmpty = m_count == 0;
        for (const JournaledLine& line : lines)
            push(line.text, line.id, line.source);
    }
    if (wasEmpty && !lines.empty())
        Q_EMIT linesWaiting();
    for (std::size_t i = 0; i < lines.size(); ++i)
        Q_EMIT appended(first + i, lines[i].text);
    return holdsBack();
}

qsizetype IntakeQueue::size() const {
    QMutexLocker lock(&m_mutex);
    return m_count;
}

quint64 IntakeQueue::appendedCount() const {
    QMutexLocker lock(&m_mutex);
    return m_appended;
}

bool IntakeQueue::isAboveHighWater() const {
    QMutexLocker lock(&m_mutex);
    return full();
}

bool IntakeQueue::holdsBack(quint64 source) const {
    if (m_journal && m_journal->blocked())
        return true;
    QMutexLocker lock(&m_mutex);
    return m_held.contains(source);
}

bool IntakeQueue::holdsBack() const {
    if (m_journal && m_journal->blocked())
        return true;
    QMutexLocker lock(&m_mutex);
    return !m_held.empty();
}

qsizetype IntakeQueue::bytes() const {
    QMutexLocker lock(&m_mutex);
    return m_bytes;
}

std::optional<QueuedLine> IntakeQueue::takeFront() {
    Item item;
    bool drainedNow = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_turns.empty())
            return std::nullopt;
        const quint64 source = m_turns.front();
        m_turns.pop_front();
        const auto waiting = m_sources.find(source);
        item = std::move(waiting->second.items.front());
        waiting->second.items.pop_front();
        const qsizetype bytes = bytesOf(item.line);
        waiting->second.bytes -= bytes;
        --m_count;
        m_bytes -= bytes;
        // Served: to the back of the round while it has more, out of it when not.
        const Source* left = &waiting->second;
        if (waiting->second.items.empty()) {
            m_sources.erase(waiting);
            left = nullptr;
        } else {
            m_turns.push_back(source);
        }
        drainedNow = !m_held.empty() && release(source, left);
    }
    Q_EMIT removed(item.sequence);
    if (drainedNow)
        Q_EMIT drained();
    return QueuedLine{std::move(item.line), item.id};
}

void IntakeQueue::markDone(base::LineId id) {
    if (m_journal)
        m_journal->markDone(id);
}

bool IntakeQueue::retryJournal() {
    if (!m_journal || !m_journal->blocked())
        return true;
    if (!m_journal->retry())
        return false;
    Q_EMIT drained();
    return true;
}

} // namespace station
