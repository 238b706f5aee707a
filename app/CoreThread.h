#pragma once

#include <QThread>

#include <memory>

namespace app {

class CoreStation;
class ServiceNotifier;
class ServiceStatus;
class ServiceWatchdog;

// The station core on a thread of its own. The core is made on the calling thread, so a front end
// may read its state directly while it is built; start() moves the core over and starts the thread.
// The thread is quit and waited for, and then the core deleted, at stop() or at the latest here.
class CoreThread final {
public:
    CoreThread();
    ~CoreThread();
    Q_DISABLE_COPY_MOVE(CoreThread)

    CoreStation& core() { return *m_core; }

    // Tells the service manager through `notifier` (which must outlive this object) when the core
    // is ready, how it does and when it stops, and feeds the manager's watchdog from the core's
    // thread. Before start().
    void notify(const ServiceNotifier& notifier);

    void start();
    // Returns once the thread has ended; the core stays until this object goes.
    void stop();

private:
    QThread m_thread;
    std::unique_ptr<CoreStation> m_core;
    // On the core's thread, and ended there before it stops.
    std::unique_ptr<ServiceStatus> m_serviceStatus;
    std::unique_ptr<ServiceWatchdog> m_watchdog;
};

} // namespace app
