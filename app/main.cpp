#include "app/ConsoleFrontEnd.h"
#include "app/CoreStation.h"
#include "app/WindowFrontEnd.h"
#include "station/LivePanel.h"
#include "storage/FirebirdClient.h"
#include "ui/CyanDusk.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

#include <cstdio>

namespace {

int runConsole(int argc, char** argv) {
    QCoreApplication application(argc, argv);

    QThread coreThread;
    coreThread.setObjectName(QStringLiteral("core"));
    auto core = std::make_unique<app::CoreStation>();
    core->moveToThread(&coreThread);

    app::ConsoleFrontEnd console(*core, stdout, stderr);
    QObject::connect(&console, &app::ConsoleFrontEnd::finished, &application, &QCoreApplication::quit);
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

// The station with its window. The window is built while the core is still on this thread, so it
// reads the core's state directly once; from then on it only follows notifications and posts.
int runWindow(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString styleProblem = ui::applyCyanDusk(application);

    QThread coreThread;
    coreThread.setObjectName(QStringLiteral("core"));
    auto core = std::make_unique<app::CoreStation>();
    auto front = std::make_unique<app::WindowFrontEnd>(*core);
    if (!styleProblem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(styleProblem));
        front->window().showError(styleProblem);
    }
    core->moveToThread(&coreThread);

    coreThread.start();
    front->window().show();
    front->startUp();
    const int status = application.exec();

    coreThread.quit();
    coreThread.wait();
    front.reset();
    core.reset();
    return status;
}

// A window needs a display; without one the station runs headless.
bool displayAvailable() {
    for (const char* variable : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("Orvane DB"));
    QCoreApplication::setApplicationVersion(station::LivePanel::kVersionCaption.toString());

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Estaci\u00f3n OrvaneDB: recibe las lecturas de las c\u00e1maras y las guarda en la base de datos."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Muestra esta ayuda."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Muestra la versi\u00f3n."));
    const QCommandLineOption console(
        QStringLiteral("console"), QStringLiteral("Sin ventana: \u00f3rdenes por la entrada est\u00e1ndar."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(console);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qUtf8Printable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s\n", qUtf8Printable(station::LivePanel::kVersionCaption.toString()));
        return 0;
    }
    storage::leaveTerminationSignalsToTheStation();
    const int status =
        parser.isSet(console) || !displayAvailable() ? runConsole(argc, argv) : runWindow(argc, argv);
    storage::shutdownFirebirdClient();
    return status;
}
