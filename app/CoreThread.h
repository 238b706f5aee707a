#pragma once

#include <QThread>

#include <memory>

namespace app {

class CoreStation;

// The station core on a thread of its own. The core is made on the calling thread, so a front end
// may read its state directly while it is built; start() moves the core over and starts the thread.
// The thread is quit and waited for, and then the core deleted, at stop() or at the latest here.
class CoreThread final {
public:
    CoreThread();
    ~CoreThread();
    Q_DISABLE_COPY_MOVE(CoreThread)

    CoreStation& core() { return *m_core; }

    void start();
    // Returns once the thread has ended; the core stays until this object goes.
    void stop();

private:
    QThread m_thread;
    std::unique_ptr<CoreStation> m_core;
};

} // namespace app
