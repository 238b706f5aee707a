#pragma once

#include <QMutex>
#include <QString>

namespace station {

// `origen_actual`: the last origin tag, written by every connection and by the serial intake.
// Exchanged whole under a lock; the last writer wins. The record processor goes by each queued
// line's own origin instead, so a serial line can never divert a network record.
class OriginTag final {
public:
    void set(const QString& origin) {
        QMutexLocker lock(&m_mutex);
        m_origin = origin;
    }

    QString get() const {
        QMutexLocker lock(&m_mutex);
        return m_origin;
    }

private:
    mutable QMutex m_mutex;
    QString m_origin;
};

} // namespace station
