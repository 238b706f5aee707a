#pragma once

#include "station/PanelIds.h"

#include <QObject>
#include <QString>

#include <array>

namespace station {

struct FieldDefinition {
    Field field;
    const char16_t* name;
    const char16_t* caption; // shown beside the value, empty when none
    const char16_t* initial;
    bool shown;
};

struct LightDefinition {
    Light light;
    const char16_t* name;
    const char16_t* hint;
};

// The station's display state: the fields the processing writes and reads back, four lights and
// the three status-bar panels. Every write notifies, reads never do. Counters live only as the
// decimal text of their fields. Touched on the core's thread only.
class LivePanel final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LivePanel)

public:
    static constexpr QStringView kVersionCaption = u"OrvaneDB Ver.:201703001001-i";
    static constexpr std::array<int, kStatusPanelCount> kStatusPanelWidths{100, 100, 600};

    explicit LivePanel(QObject* parent = nullptr);

    static const FieldDefinition& definition(Field field);
    static const LightDefinition& definition(Light light);
    static QString initialStatus(int panel);

    const QString& text(Field field) const { return m_texts[index(field)]; }
    void setText(Field field, QString text);

    // Reads the text as an integer, adds one and writes the decimal text back. A text that is
    // not an integer fails with "'%s' is not a valid integer value" and is kept.
    void increment(Field field);
    void reset(Field field) { setText(field, QString(u'0')); }

    bool isLit(Light light) const { return m_lit[index(light)]; }
    void setLit(Light light, bool lit);

    const QString& status(int panel) const { return m_status.at(panel); }
    void setStatus(int panel, QString text);

Q_SIGNALS:
    void fieldChanged(station::Field field, const QString& text);
    void lightChanged(station::Light light, bool lit);
    void statusChanged(int panel, const QString& text);

private:
    static int index(Field f) { return static_cast<int>(f); }
    static int index(Light l) { return static_cast<int>(l); }

    std::array<QString, kFieldCount> m_texts;
    std::array<bool, kLightCount> m_lit{};
    std::array<QString, kStatusPanelCount> m_status;
};

} // namespace station
