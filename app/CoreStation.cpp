#include "app/CoreStation.h"

namespace app {

CoreStation::CoreStation(QObject* parent)
    : QObject(parent)
    , m_settings(this)
    , m_panel(this)
    , m_queue(station::IntakeQueue::kDefaultHighWaterMark, this)
    , m_errors(this)
    , m_logEthernet(this)
    , m_logRS232(this)
    , m_timer([this] { m_tick.Timer1Timer(); }, this)
    , m_tick(m_queue, m_panel, m_timer, m_processor, m_transaction, m_errors) {}

CoreStation::~CoreStation() = default;

void CoreStation::startUp() {
    m_errors.guard([this] { m_timer.setEnabled(true); });
}

void CoreStation::iniciar() {}

void CoreStation::parar() {}

void CoreStation::guardar() {}

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

void CoreStation::close() {
    m_timer.setEnabled(false);
    Q_EMIT closed();
}

} // namespace app
