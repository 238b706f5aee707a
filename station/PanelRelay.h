#pragma once

#include "station/PanelIds.h"

#include <QList>
#include <QObject>
#include <QString>

namespace station {

class LivePanel;

// One change of the panel as a front end follows it: a field's text, a light, or the text of a
// status-bar panel.
struct PanelChange {
    enum class Kind : quint8 { Field, Light, Status };

    Kind kind = Kind::Field;
    int index = 0; // the field, the light or the status-bar panel
    QString text;  // a field's or a status-bar panel's
    bool lit = false;
};
using PanelChanges = QList<PanelChange>;

// Hands the panel's changes to a front end on another thread: every change, in order, in one batch
// per turn of the core's event loop. A record writes some twenty fields; an event for each cost
// the core more than storing the record did. Lives on the panel's thread.
class PanelRelay final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PanelRelay)

public:
    explicit PanelRelay(const LivePanel& panel, QObject* parent = nullptr);

    // Hands over what is waiting now: before the core tells the front ends something that must
    // reach them after the changes, such as the end of the close.
    void flush();

Q_SIGNALS:
    void changed(const station::PanelChanges& changes);

private:
    void note(PanelChange change);

    PanelChanges m_pending;
};

} // namespace station
