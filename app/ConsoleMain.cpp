#include "app/ConsoleFrontEnd.h"
#include "app/CoreStation.h"
#include "app/FrontEndMains.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace app {

bool startOptions(CoreStation& core, const StationOptions& options) {
    if (!options.metrics)
        return true;
    QString error;
    QMetaObject::invokeMethod(
        &core, [&] { error = core.serveMetrics(*options.metrics); }, Qt::BlockingQueuedConnection);
    if (error.isEmpty())
        return true;
    std::fprintf(stderr, "--metrics %s:%u: %s\n", qUtf8Printable(options.metrics->host.toString()),
                 unsigned(options.metrics->port), qUtf8Printable(error));
    return false;
}

int runConsole(int argc, char** argv, const StationOptions& options) {
    QCoreApplication application(argc, argv);

    QThread coreThread;
    coreThread.setObjectName(u"core"_s);
    auto core = std::make_unique<CoreStation>();
    core->moveToThread(&coreThread);

    ConsoleFrontEnd console(*core, STDOUT_FILENO, STDERR_FILENO);
    QObject::connect(&console, &ConsoleFrontEnd::finished, &application, &QCoreApplication::quit);
    console.attach();

    coreThread.start();
    if (!startOptions(*core, options)) {
        coreThread.quit();
        coreThread.wait();
        return kStatusBadOptions;
    }
    QMetaObject::invokeMethod(
        core.get(), [&core] { core->startUp(); }, Qt::QueuedConnection);
    const int status = application.exec();

    coreThread.quit();
    coreThread.wait();
    core.reset();
    return status;
}

} // namespace app
