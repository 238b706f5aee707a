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
    quint16 port = 0;
    QMetaObject::invokeMethod(
        &core,
        [&] {
            error = core.serveMetrics(*options.metrics);
            port = core.metricsPort();
        },
        Qt::BlockingQueuedConnection);
    if (error.isEmpty()) {
        // Port 0 lets the system choose: whoever scrapes must learn which.
        const QHostAddress& host = options.metrics->host;
        const QString shown = host.protocol() == QAbstractSocket::IPv6Protocol
                                  ? u"[%1]"_s.arg(host.toString())
                                  : host.toString();
        std::fprintf(stderr, "M\u00e9tricas en http://%s:%u/metrics\n", qUtf8Printable(shown),
                     unsigned(port));
        return true;
    }
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
