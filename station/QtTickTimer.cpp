#include "station/QtTickTimer.h"

#include <utility>

namespace station {

QtTickTimer::QtTickTimer(std::function<void()> onTick, QObject* parent)
    : QObject(parent)
    , m_timer(this)
    , m_onTick(std::move(onTick)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_onTick(); });
}

void QtTickTimer::setEnabled(bool on) {
    m_asleep = false;
    if (on == m_timer.isActive())
        return;
    if (on)
        m_timer.start();
    else
        m_timer.stop();
}

void QtTickTimer::idle() {
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    m_asleep = true;
}

void QtTickTimer::hurry() {
    if (std::exchange(m_hurried, true))
        return;
    // Posted, so that commands, scrapes and socket events already waiting go first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_hurried = false;
            if (m_timer.isActive())
                m_onTick();
        },
        Qt::QueuedConnection);
}

void QtTickTimer::wake() {
    if (!m_asleep)
        return;
    m_asleep = false;
    m_timer.start();
    m_onTick();
}

} // namespace station
