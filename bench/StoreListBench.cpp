// The settings store with very long lists: a run that restores and stores a `logEthernet` list and
// a camera-name list of many items (40 000 by default), as the first show and the close do. Both
// must take time in proportion to the items, so the figures for N and 4N tell.

#include "base/ErrorReport.h"
#include "config/SerialPortSettings.h"
#include "config/Settings.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// One run of the station's form storage over the file: restore, then store with the Ethernet log
// emptied (as after the save on close). Returns milliseconds for each.
std::pair<qint64, qint64> oneRun(const QString& path) {
    config::SettingsStore store(path);
    config::Settings settings;
    station::LivePanel panel;
    station::RawLog logEthernet;
    config::SerialPortSettings port;
    base::ErrorReport errors;
    station::FormStorage form(store, settings, panel, logEthernet, port, errors);
    QElapsedTimer clock;
    clock.start();
    form.restore({96, {station::PlacementRect{0, 0, 1920, 1080}}});
    const qint64 restoreMs = clock.restart();
    logEthernet.clear();
    form.store(station::WindowPlacement::designed());
    return {restoreMs, clock.elapsed()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({u"items"_s, u"Items in each list (default 40000)."_s, u"n"_s, u"40000"_s});
    parser.process(app);
    const int items = parser.value(u"items"_s).toInt();

    QTemporaryDir dir;
    const QString path = dir.filePath(u"OrvaneDB.reg"_s);
    {
        config::SettingsStore store(path);
        const QString key = station::FormStorage::kKey.toString();
        for (const QString& list : {key + u"\\logEthernet_Items"_s, key + u"\\LogCamNombre_Lines"_s}) {
            for (int i = 0; i < items; ++i)
                store.writeString(list, u"Item"_s + QString::number(i), u"192.168.1.4 linea %1"_s.arg(i));
            store.writeInteger(list, u"Count"_s, items);
        }
        store.save();
    }
    QElapsedTimer load;
    load.start();
    const auto [restoreMs, storeMs] = oneRun(path);
    std::printf("%d items in each of two lists: restore %lld ms, store %lld ms (whole run %lld ms)\n", items,
                static_cast<long long>(restoreMs), static_cast<long long>(storeMs),
                static_cast<long long>(load.elapsed()));
    return 0;
}
