#pragma once

#include "station/TickTimer.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace station {

// The 5 ms processing timer on the core's event loop. An idle station does not wake every 5 ms:
// while the tick has nothing to do the timer sleeps, and a line arriving wakes it at once.
class QtTickTimer final : public QObject, public TickTimer {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtTickTimer)

public:
    static constexpr int kPeriodMs = 5;

    explicit QtTickTimer(std::function<void()> onTick, QObject* parent = nullptr);

    void setEnabled(bool on) override;
    bool isEnabled() const override { return m_timer.isActive() || m_asleep; }
    void idle() override;
    void hurry() override;
    // A line is waiting: a sleeping timer ticks at once and then every period again. Call it from
    // the event loop (a queued connection), never from inside a tick.
    void wake();

private:
    QTimer m_timer;
    bool m_asleep = false;  // on, but not firing until woken
    bool m_hurried = false; // a tick is posted behind the events waiting
    std::function<void()> m_onTick;
};

} // namespace station
