#include "app/ServiceStatus.h"

#include "app/CoreStation.h"
#include "app/ServiceNotifier.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace app {

ServiceStatus::ServiceStatus(CoreStation& core, const ServiceNotifier& notifier, QObject* parent)
    : QObject(parent)
    , m_core(core)
    , m_notifier(notifier)
    , m_refresh(this) {
    m_refresh.setInterval(kStatusEvery);
    connect(&m_refresh, &QTimer::timeout, this, &ServiceStatus::refresh);
    // Said once: a later "iniciar" listens again, but the service has long been up.
    connect(&core, &CoreStation::listeningStarted, this, [this] {
        if (!std::exchange(m_ready, true))
            m_notifier.send("READY=1");
    });
    connect(&core, &CoreStation::closeStarted, this, [this] { m_notifier.send("STOPPING=1"); });
}

void ServiceStatus::start() {
    if (!m_notifier.active())
        return;
    refresh();
    m_refresh.start();
}

QString ServiceStatus::statusText(quint64 stored, qint64 waiting) {
    return (stored == 1 ? u"1 fila guardada"_s : u"%1 filas guardadas"_s.arg(stored)) +
           u", %1 en espera"_s.arg(waiting);
}

void ServiceStatus::refresh() {
    const MetricsValues values = m_core.metrics();
    const QString text = statusText(values.rowsStored, values.rowsWaiting);
    if (text == m_shown)
        return;
    if (m_notifier.send("STATUS=" + text.toUtf8()))
        m_shown = text;
}

} // namespace app
