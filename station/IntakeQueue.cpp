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
    return qsizetype(m_items.size()) >= m_highWaterMark || m_bytes >= m_highWaterBytes;
}

bool IntakeQueue::append(QString line) {
    quint64 sequence;
    bool full;
    {
        QMutexLocker lock(&m_mutex);
        m_bytes += bytesOf(line);
        m_items.push_back(line);
        sequence = ++m_appended;
        full = this->full();
        if (full)
            m_pushingBack = true;
    }
    Q_EMIT appended(sequence, line);
    return full;
}

qsizetype IntakeQueue::size() const {
    QMutexLocker lock(&m_mutex);
    return qsizetype(m_items.size());
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
    QString item;
    quint64 sequence;
    bool drainedNow = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_items.empty())
            return std::nullopt;
        item = std::move(m_items.front());
        m_items.pop_front();
        m_bytes -= bytesOf(item);
        sequence = ++m_removed;
        if (m_pushingBack && qsizetype(m_items.size()) <= m_highWaterMark / 2 &&
            m_bytes <= m_highWaterBytes / 2) {
            m_pushingBack = false;
            drainedNow = true;
        }
    }
    Q_EMIT removed(sequence);
    if (drainedNow)
        Q_EMIT drained();
    return item;
}

} // namespace station
