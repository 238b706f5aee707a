#pragma once

#include "app/TickProgress.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace app {

class ServiceNotifier;

// Keeps the service manager's watchdog fed from the thread it lives on (the core's): WATCHDOG=1 at
// half the manager's interval, and only while that thread's event loop turns and its tick takes
// the lines that wait. A core stuck for longer than the interval is then restarted by the manager;
// every line it had read is still in the intake journal.
class ServiceWatchdog final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServiceWatchdog)

public:
    // `progress` is asked on this object's thread at every beat.
    ServiceWatchdog(const ServiceNotifier& notifier, std::function<TickProgress()> progress,
                    QObject* parent = nullptr);

    // On this object's thread. Nothing happens when the manager does not watch.
    void start();
    void stop() { m_beat.stop(); }

private:
    void beat();

    const ServiceNotifier& m_notifier;
    std::function<TickProgress()> m_progress;
    QTimer m_beat;
    TickProgress m_last;
};

} // namespace app
