#include "app/CoreStation.h"

namespace app {

CoreStation::CoreStation(QString settingsFile, QObject* parent)
    : QObject(parent)
    , m_settings(this)
    , m_panel(this)
    , m_queue(station::IntakeQueue::kDefaultHighWaterMark, this)
    , m_errors(this)
    , m_logRS232(this)
    , m_logEthernet(this)
    , m_store(std::move(settingsFile))
    , m_formStorage(m_store, m_settings, m_panel, m_logEthernet, m_serialPort, m_errors)
    , m_rawLogFiles(m_logRS232, m_logEthernet, m_settings, m_panel, m_clock, m_contadorArchivo, m_errors,
                    this)
    , m_periodicLogSave(m_rawLogFiles)
    , m_timer([this] { m_tick.Timer1Timer(); }, this)
    , m_processor({m_panel, m_settings, m_origin, m_timer, m_logRS232, m_database, m_periodicLogSave,
                   m_quality, m_clock})
    , m_tick(m_queue, m_panel, m_timer, m_processor, m_database, m_errors) {}

CoreStation::~CoreStation() = default;

void CoreStation::startUp(const station::ScreenLayout& screen) {
    m_errors.guard([this] { m_timer.setEnabled(true); });
    Q_EMIT placementRestored(m_formStorage.restore(screen));
}

void CoreStation::iniciar() {}

void CoreStation::parar() {}

void CoreStation::guardar() {
    m_errors.guard([this] { m_rawLogFiles.Button3Click(); });
}

void CoreStation::reset() {
    using station::Field;
    m_panel.reset(Field::Lbuenos);
    m_panel.reset(Field::Lmalos);
    m_panel.setText(Field::Lcalidad, QStringLiteral("100"));
    m_panel.reset(Field::fem);
}

void CoreStation::setSetting(config::SettingId id, const QVariant& value) {
    m_errors.guard([&] { m_settings.setValue(id, value); });
}

void CoreStation::close(const station::WindowPlacement& placement) {
    m_formStorage.store(placement);
    m_timer.setEnabled(false);
    Q_EMIT closed();
}

} // namespace app
