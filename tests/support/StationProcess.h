#pragma once

#include "config/SettingsStore.h"
#include "station/FormStorage.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>

#include <initializer_list>
#include <utility>

namespace testsupport {

// Stores texts of the form in the settings file the headless program reads when started with
// stationEnvironment(config).
inline void storeStationSettings(const QString& config,
                                 std::initializer_list<std::pair<QString, QString>> texts) {
    config::SettingsStore store(config + QStringLiteral("/Tarvenix/OrvaneDB.reg"));
    store.load();
    for (const auto& [name, value] : texts)
        store.writeString(station::FormStorage::kKey, name, value);
    store.save();
}

// The program a test starts, killed at the end if the test left it running.
class StationProcess final : public QProcess {
public:
    ~StationProcess() override {
        if (state() != QProcess::NotRunning) {
            kill();
            waitForFinished(30000);
        }
    }

    // Reads the standard output into `printed` until the station says it listens for its devices;
    // false when it ended or did not within `ms`.
    bool waitUntilListening(QString& printed, int ms) {
        const QDeadlineTimer deadline(ms);
        while (!printed.contains(QStringLiteral("Orvane Monitoreando en puerto"))) {
            if (deadline.hasExpired() || state() == QProcess::NotRunning)
                return false;
            waitForReadyRead(100);
            printed += QString::fromUtf8(readAllStandardOutput());
        }
        return true;
    }
};

} // namespace testsupport
