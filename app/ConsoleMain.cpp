#include "app/ConsoleFrontEnd.h"
#include "app/CoreStation.h"
#include "app/CoreThread.h"
#include "app/FrontEndMains.h"

#include <QCoreApplication>

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

    CoreThread coreThread;
    CoreStation& core = coreThread.core();
    ConsoleFrontEnd console(core, STDOUT_FILENO, STDERR_FILENO);
    QObject::connect(&console, &ConsoleFrontEnd::finished, &application, &QCoreApplication::quit);
    console.attach();

    coreThread.start();
    // The core's thread ends before the console goes, and the core after it.
    if (!startOptions(core, options)) {
        coreThread.stop();
        return kStatusBadOptions;
    }
    QMetaObject::invokeMethod(
        &core, [&core] { core.startUp(); }, Qt::QueuedConnection);
    const int status = application.exec();
    coreThread.stop();
    return status;
}

} // namespace app
