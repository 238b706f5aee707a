#pragma once

#include "app/AlertTally.h"
#include "base/ErrorReport.h"
#include "config/SerialPortSettings.h"
#include "config/Settings.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/PanelRelay.h"
#include "station/RawLog.h"

namespace ui {

// What the window follows of the core. The window reads their state once, while they still sit on
// the window's thread, and after that only listens to their notifications: every one of these
// objects belongs to the core's thread from then on.
struct StationModels {
    station::LivePanel& panel;
    station::PanelRelay& panelChanges;
    config::Settings& settings;
    station::IntakeQueue& queue;
    station::RawLog& logEthernet;
    station::RawLog& logRS232;
    base::ErrorReport& errors;
    const config::SerialPortSettings& serialPort;
    app::AlertTally& alerts;
};

} // namespace ui
