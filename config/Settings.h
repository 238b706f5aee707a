#pragma once

#include "config/LineList.h"
#include "config/SettingId.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <array>
#include <span>
#include <variant>

namespace config {

struct SettingDefinition {
    SettingId id;
    const char16_t* name;    // the control's name
    const char16_t* caption; // the caption beside it on the tab, empty when it has none
    SettingKind kind;
    const char16_t* defaultText; // Text and Lines kinds
    double defaultReal;          // Real kind
    bool defaultChecked;         // Check kind
    double minimum;              // Real kind: the range the field offers
    double maximum;
    bool shown;  // visible on the configuration tab
    bool stored; // kept by the settings store
};

// The station's settings, each read at the moment of use. Owned by the core; the window edits them
// through posted commands and follows them through `changed`.
class Settings final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Settings)

public:
    explicit Settings(QObject* parent = nullptr);

    static std::span<const SettingDefinition> definitions();
    static const SettingDefinition& definition(SettingId id);

    const QString& text(SettingId id) const;
    double real(SettingId id) const;
    const LineList& lines(SettingId id) const;
    bool checked(SettingId id) const;

    void setText(SettingId id, QString text);
    void setReal(SettingId id, double value);
    void setLines(SettingId id, LineList lines);
    void setChecked(SettingId id, bool checked);

    // Kind-neutral access for the settings store and the window: a QString, a double, the memo
    // text as a QString, or a bool.
    QVariant value(SettingId id) const;
    void setValue(SettingId id, const QVariant& value);

    // Every setting back to its built-in default.
    void restoreDefaults();

Q_SIGNALS:
    void changed(config::SettingId id, const QVariant& value);

private:
    using Value = std::variant<QString, double, LineList, bool>;
    const Value& slot(SettingId id, SettingKind kind) const;
    void assign(SettingId id, Value value);

    std::array<Value, kSettingCount> m_values;
};

} // namespace config
