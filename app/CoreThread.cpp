#include "app/CoreThread.h"

#include "app/CoreStation.h"
#include "app/ServiceNotifier.h"
#include "app/ServiceStatus.h"
#include "app/ServiceWatchdog.h"

using namespace Qt::StringLiterals;

namespace app {

CoreThread::CoreThread()
    : m_core(std::make_unique<CoreStation>()) {
    m_thread.setObjectName(u"core"_s);
}

CoreThread::~CoreThread() {
    stop();
    m_core.reset();
}

void CoreThread::notify(const ServiceNotifier& notifier) {
    if (!notifier.active())
        return;
    m_serviceStatus = std::make_unique<ServiceStatus>(*m_core, notifier);
    CoreStation* core = m_core.get();
    m_watchdog = std::make_unique<ServiceWatchdog>(notifier, [core] { return core->tickProgress(); });
}

void CoreThread::start() {
    m_core->moveToThread(&m_thread);
    // Their timers start on the core's thread, before its event loop runs.
    if (m_serviceStatus) {
        m_serviceStatus->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::started, m_serviceStatus.get(), &ServiceStatus::start);
    }
    if (m_watchdog) {
        m_watchdog->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::started, m_watchdog.get(), &ServiceWatchdog::start);
    }
    m_thread.start();
}

void CoreThread::stop() {
    // Timers end on the thread they run on.
    if (m_thread.isRunning() && (m_serviceStatus || m_watchdog)) {
        QMetaObject::invokeMethod(
            m_core.get(),
            [this] {
                m_serviceStatus.reset();
                m_watchdog.reset();
            },
            Qt::BlockingQueuedConnection);
    }
    m_thread.quit();
    m_thread.wait();
    m_serviceStatus.reset();
    m_watchdog.reset();
}

} // namespace app
