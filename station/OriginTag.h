#pragma once

#include <QMutex>
#include <QString>

namespace station {

// `origen_actual`: the last origin tag, written by every connection and by the serial intake,
// read by the record processor. Exchanged whole under a lock; the last writer wins.
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
