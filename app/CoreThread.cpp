#include "app/CoreThread.h"

#include "app/CoreStation.h"

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

void CoreThread::start() {
    m_core->moveToThread(&m_thread);
    m_thread.start();
}

void CoreThread::stop() {
    m_thread.quit();
    m_thread.wait();
}

} // namespace app
