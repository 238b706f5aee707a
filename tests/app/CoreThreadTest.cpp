#include "app/CoreThread.h"

#include "app/CoreStation.h"

#include <QThread>

#include <gtest/gtest.h>

namespace {

TEST(CoreThreadTest, StartMovesTheCoreOverAndStopEndsItsThread) {
    app::CoreThread coreThread;
    EXPECT_EQ(coreThread.core().thread(), QThread::currentThread());

    coreThread.start();
    QThread* thread = coreThread.core().thread();
    EXPECT_NE(thread, QThread::currentThread());
    EXPECT_TRUE(thread->isRunning());

    coreThread.stop();
    EXPECT_TRUE(thread->isFinished());
}

} // namespace
