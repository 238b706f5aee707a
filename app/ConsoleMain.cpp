#include "app/ConsoleFrontEnd.h"
#include "app/CoreStation.h"
#include "app/CoreThread.h"
#include "app/FrontEndMains.h"
#include "app/JournalStream.h"
#include "app/ServiceNotifier.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace app {

namespace {

// Qt's own messages go to the journal with their priority too.
void journalMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const base::Priority priority = type == QtWarningMsg                          ? base::Priority::Warning
                                    : type == QtCriticalMsg || type == QtFatalMsg ? base::Priority::Error
                                                                                  : base::Priority::Info;
    printToStderr(priority, qFormatLogMessage(type, context, message));
}

} // namespace

bool startOptions(CoreStation& core, const StationOptions& options) {
    QMetaObject::invokeMethod(
        &core, [&] { core.setDatabaseLogin(options.databaseLogin); }, Qt::BlockingQueuedConnection);
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
        printToStderr(base::Priority::Info,
                      u"M\u00e9tricas en http://%1:%2/metrics"_s.arg(shown, QString::number(port)));
        return true;
    }
    printToStderr(base::Priority::Error,
                  u"--metrics %1:%2: %3"_s.arg(options.metrics->host.toString(),
                                               QString::number(options.metrics->port), error));
    return false;
}

int runConsole(int argc, char** argv, const StationOptions& options) {
    QCoreApplication application(argc, argv);
    if (isJournalStream(STDERR_FILENO))
        qInstallMessageHandler(journalMessage);

    // Under a service manager that asked for it (Type=notify): readiness, status and watchdog.
    const ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    CoreThread coreThread;
    coreThread.notify(notifier);
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
