#include "station/PanelRelay.h"

#include "station/LivePanel.h"

#include <utility>

namespace station {

PanelRelay::PanelRelay(const LivePanel& panel, QObject* parent)
    : QObject(parent) {
    connect(&panel, &LivePanel::fieldChanged, this, [this](Field field, const QString& text) {
        note({PanelChange::Kind::Field, static_cast<int>(field), text});
    });
    connect(&panel, &LivePanel::lightChanged, this, [this](Light light, bool lit) {
        note({PanelChange::Kind::Light, static_cast<int>(light), {}, lit});
    });
    connect(&panel, &LivePanel::statusChanged, this, [this](int statusPanel, const QString& text) {
        note({PanelChange::Kind::Status, statusPanel, text});
    });
}

void PanelRelay::note(PanelChange change) {
    // The first change since the last batch asks for the next one; the rest join it.
    if (m_pending.isEmpty())
        QMetaObject::invokeMethod(this, &PanelRelay::flush, Qt::QueuedConnection);
    m_pending.append(std::move(change));
}

void PanelRelay::flush() {
    if (m_pending.isEmpty())
        return;
    Q_EMIT changed(std::exchange(m_pending, {}));
}

} // namespace station
