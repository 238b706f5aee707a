#include "station/IntakeQueue.h"

namespace station {

namespace {

qsizetype bytesOf(const QString& line) {
    return line.size() * qsizetype(sizeof(QChar));
}

} // namespace

IntakeQueue::IntakeQueue(qsizetype highWaterMark, qsizetype highWaterBytes, QObject* parent)
    : QObject(parent)
    , m_highWaterMark(highWaterMark)
    , m_highWaterBytes(highWaterBytes) {}

bool IntakeQueue::full() const {
    return m_count >= m_highWaterMark || m_bytes >= m_highWaterBytes;
}

bool IntakeQueue::append(QString line, quint64 source) {
    quint64 sequence;
    bool full;
    {
        QMutexLocker lock(&m_mutex);
        sequence = ++m_appended;
        m_bytes += bytesOf(line);
        ++m_count;
        std::deque<Item>& waiting = m_sources[source];
        // A source that had nothing waiting joins the end of the round.
        if (waiting.empty())
            m_turns.push_back(source);
        waiting.push_back({line, sequence});
        full = this->full();
        if (full)
            m_pushingBack = true;
    }
    Q_EMIT appended(sequence, line);
    return full;
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

qsizetype IntakeQueue::bytes() const {
    QMutexLocker lock(&m_mutex);
    return m_bytes;
}

std::optional<QString> IntakeQueue::takeFront() {
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
    return std::move(item.line);
}

} // namespace station
