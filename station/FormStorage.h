#pragma once

#include "base/ErrorReport.h"
#include "config/SerialPortSettings.h"
#include "config/Settings.h"
#include "config/SettingsStore.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "station/StoredPlacement.h"

#include <QString>
#include <QStringList>

namespace station {

// The main window's form storage: the fixed list of the window's properties and its placement,
// kept in the settings store under Software\Tarvenix\OrvaneDB\Vuruvov. Restored once at the first
// show and stored at a granted close. It reads and writes the objects the core owns; everything
// that goes wrong goes to the error report, and neither call throws.
class FormStorage final {
public:
    static constexpr QStringView kKey = u"Software\\Tarvenix\\OrvaneDB\\Vuruvov";
    static constexpr QStringView kDefaultLbccCaption = u"BCC:";

    FormStorage(config::SettingsStore& store, config::Settings& settings, LivePanel& panel,
                RawLog& logEthernet, config::SerialPortSettings& port, base::ErrorReport& errors);

    // The names the properties have in the key, in the order they are written and restored.
    static QStringList propertyNames();

    // Loads the store and sets every stored property; those absent keep their value. A value
    // stored as another kind is taken when its meaning is plain (a number for a text, the text of
    // an integer for an integer); any other keeps its property's value, is reported once for all,
    // and a dated copy of the file is kept before the close writes over it. Returns the placement to apply:
    // the stored normal rectangle only when it was stored at this resolution and lies on a monitor, else the
    // designed one. A placement value of the wrong kind ends the restore there; this run's store then writes
    // only "FormVersion".
    WindowPlacement restore(const ScreenLayout& screen);

    // Writes the placement and every property, defaults included, over the store as the restore
    // read it, and saves it. Returns
    // whether the store was saved; when not, the file keeps what it held before.
    bool store(const WindowPlacement& current);

    // Whether this run's restore ran to its end.
    bool restored() const { return m_restored; }

    // `lbcc`, a hidden label that no operation changes; kept for the store's sake.
    const QString& lbccCaption() const { return m_lbccCaption; }

private:
    void load();
    void restorePlacement(const ScreenLayout& screen, WindowPlacement& placement) const;
    void restoreProperties();
    void writeProperties();

    config::SettingsStore& m_store;
    config::Settings& m_settings;
    LivePanel& m_panel;
    RawLog& m_logEthernet;
    config::SerialPortSettings& m_port;
    base::ErrorReport& m_errors;
    QString m_lbccCaption = kDefaultLbccCaption.toString();
    bool m_loaded = false;
    bool m_restored = false;
};

} // namespace station
