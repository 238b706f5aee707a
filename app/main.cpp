#include "app/FrontEndMains.h"
#include "app/JournalStream.h"
#include "base/Clock.h"
#include "base/Error.h"
#include "station/LivePanel.h"
#include "storage/DatabaseLogin.h"
#include "storage/FirebirdClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// A window needs a display; without one the station runs headless.
bool displayAvailable() {
    for (const char* variable : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return true;
    }
    return false;
}

// Where the database login comes from: the file the command line names, else the credential
// systemd hands a service started with LoadCredential=orvanedb-db:..., else none (the built-in one).
std::optional<QString> credentialsFile(const std::optional<QString>& given) {
    if (given)
        return given;
    const QString directory = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (directory.isEmpty())
        return std::nullopt;
    const QString file = QDir(directory).filePath(u"orvanedb-db"_s);
    if (!QFileInfo::exists(file))
        return std::nullopt;
    return file;
}

} // namespace

int main(int argc, char** argv) {
    base::pinLocalTimeZone();
    // Qt's own event dispatcher, not the GLib one, on every thread: it wakes a thread once for all
    // the events posted to it meanwhile, where GLib's writes its wake-up descriptor for each, a
    // system call per panel field and per line crossing from the core to the front end under load.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication::setApplicationName(u"Orvane DB"_s);
    QCoreApplication::setApplicationVersion(station::LivePanel::kVersionCaption.toString());

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Estaci\u00f3n OrvaneDB: recibe las lecturas de las c\u00e1maras y las guarda en la base de datos."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Muestra esta ayuda."_s);
    const QCommandLineOption version({u"v"_s, u"version"_s}, u"Muestra la versi\u00f3n."_s);
    const QCommandLineOption console(u"console"_s,
                                     u"Sin ventana: \u00f3rdenes por la input est\u00e1ndar."_s);
    const QCommandLineOption metrics(
        u"metrics"_s,
        u"Sirve los contadores para Prometheus por HTTP en direcci\u00f3n:puerto (127.0.0.1:9310)."_s,
        u"direcci\u00f3n:puerto"_s);
    const QCommandLineOption dbCredentials(
        u"db-credentials"_s,
        u"Entra a la base de datos con el usuario (primera l\u00ednea), la clave (segunda) y, si lo hay, el "
        u"rol (tercera) de archivo, legible solo por su due\u00f1o."_s,
        u"archivo"_s);
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(console);
    parser.addOption(metrics);
    parser.addOption(dbCredentials);
    if (!parser.parse(arguments)) {
        app::printToStderr(base::Priority::Error, parser.errorText());
        return app::kStatusBadOptions;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qUtf8Printable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s\n", qUtf8Printable(station::LivePanel::kVersionCaption.toString()));
        return 0;
    }
    app::StationOptions options;
    if (parser.isSet(metrics)) {
        options.metrics = app::MetricsAddress::parse(parser.value(metrics));
        if (!options.metrics) {
            app::printToStderr(
                base::Priority::Error,
                u"--metrics: se espera direcci\u00f3n:puerto, no '%1'"_s.arg(parser.value(metrics)));
            return app::kStatusBadOptions;
        }
    }
    if (const std::optional<QString> file = credentialsFile(
            parser.isSet(dbCredentials) ? std::optional(parser.value(dbCredentials)) : std::nullopt)) {
        try {
            options.databaseLogin = storage::DatabaseLogin::fromFile(*file);
        } catch (const base::Error& e) {
            app::printToStderr(base::Priority::Error, e.message());
            return app::kStatusBadOptions;
        }
    }
    storage::leaveTerminationSignalsToTheStation();
    // A reader of the station's output that goes away must not end the station: a write to it
    // fails instead, and the station goes on storing its rows.
    std::signal(SIGPIPE, SIG_IGN);
    const int status = app::windowBuiltIn() && !parser.isSet(console) && displayAvailable()
                           ? app::runWindow(argc, argv, options)
                           : app::runConsole(argc, argv, options);
    storage::shutdownFirebirdClient();
    return status;
}
