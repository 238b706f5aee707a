#pragma once

#include "station/TickTimer.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace station {

// The 5 ms processing timer on the core's event loop.
class QtTickTimer final : public QObject, public TickTimer {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtTickTimer)

public:
    static constexpr int kPeriodMs = 5;

    explicit QtTickTimer(std::function<void()> onTick, QObject* parent = nullptr);

    void setEnabled(bool on) override;
    bool isEnabled() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
    std::function<void()> m_onTick;
};

} // namespace station
