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

void IntakeQueue::push(QString line, base::LineId id, quint64 source) {
    const quint64 sequence = ++m_appended;
    m_bytes += bytesOf(line);
    ++m_count;
    std::deque<Item>& waiting = m_sources[source];
    // A source that had nothing waiting joins the end of the round.
    if (waiting.empty())
        m_turns.push_back(source);
    waiting.push_back({std::move(line), sequence, id});
    if (full())
        m_pushingBack = true;
}

bool IntakeQueue::appendBatch(std::vector<QString> lines, quint64 source) {
    if (lines.empty())
        return holdsBack();
    quint64 first;
    bool full;
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
        for (std::size_t i = 0; i < lines.size(); ++i)
            push(lines[i], {m_run, first + i}, source);
        full = this->full();
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        Q_EMIT appended(first + i, lines[i]);
    return full || journalBlocked;
}

bool IntakeQueue::append(QString line, quint64 source) {
    std::vector<QString> batch;
    batch.push_back(std::move(line));
    return appendBatch(std::move(batch), source);
}

bool IntakeQueue::restore(std::vector<JournaledLine> lines) {
    quint64 first;
    {
        QMutexLocker order(&m_appendMutex);
        QMutexLocker lock(&m_mutex);
        first = m_appended + 1;
        for (const JournaledLine& line : lines)
            push(line.text, line.id, line.source);
    }
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

bool IntakeQueue::holdsBack() const {
    return isAboveHighWater() || (m_journal && m_journal->blocked());
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
        item = std::move(waiting->second.front());
        waiting->second.pop_front();
        // Served: to the back of the round while it has more, out of it when not.
        if (waiting->second.empty())
            m_sources.erase(waiting);
        else
            m_turns.push_back(source);
        --m_count;
        m_bytes -= bytesOf(item.line);
        if (m_pushingBack && m_count <= m_highWaterMark / 2 && m_bytes <= m_highWaterBytes / 2) {
            m_pushingBack = false;
            drainedNow = true;
        }
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
