#include "app/ServiceWatchdog.h"

#include "app/ServiceNotifier.h"

#include <algorithm>
#include <chrono>

namespace app {

ServiceWatchdog::ServiceWatchdog(const ServiceNotifier& notifier, std::function<TickProgress()> progress,
                                 QObject* parent)
    : QObject(parent)
    , m_notifier(notifier)
    , m_progress(std::move(progress))
    , m_beat(this) {
    connect(&m_beat, &QTimer::timeout, this, &ServiceWatchdog::beat);
}

void ServiceWatchdog::start() {
    const std::optional<std::chrono::microseconds> interval = m_notifier.watchdogInterval();
    if (!interval)
        return;
    // Half the interval, as the manager asks: one late beat is not yet a missed one.
    m_beat.start(std::max(std::chrono::duration_cast<std::chrono::milliseconds>(*interval / 2),
                          std::chrono::milliseconds(1)));
    m_last = m_progress();
}

void ServiceWatchdog::beat() {
    // This runs, so the event loop turns; lines that waited at the last beat and still wait without
    // one taken since mean the tick itself no longer runs.
    const TickProgress now = m_progress();
    const bool stuck = m_last.linesWaiting && now.linesWaiting && now.linesTaken == m_last.linesTaken;
    m_last = now;
    if (!stuck)
        m_notifier.send("WATCHDOG=1");
}

} // namespace app
