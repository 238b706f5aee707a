#include "app/ConsoleFrontEnd.h"
#include "app/CoreStation.h"
#include "app/FrontEndMains.h"

#include <QCoreApplication>
#include <QThread>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace app {

int runConsole(int argc, char** argv) {
    QCoreApplication application(argc, argv);

    QThread coreThread;
    coreThread.setObjectName(u"core"_s);
    auto core = std::make_unique<CoreStation>();
    core->moveToThread(&coreThread);

    ConsoleFrontEnd console(*core, STDOUT_FILENO, STDERR_FILENO);
    QObject::connect(&console, &ConsoleFrontEnd::finished, &application, &QCoreApplication::quit);
    console.attach();

    coreThread.start();
    QMetaObject::invokeMethod(
        core.get(), [&core] { core->startUp(); }, Qt::QueuedConnection);
    const int status = application.exec();

    coreThread.quit();
    coreThread.wait();
    core.reset();
    return status;
}

} // namespace app
