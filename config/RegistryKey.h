#pragma once

#include "config/RegistryValue.h"

#include <QList>
#include <QString>

namespace config {

// A key of a registry file: its full path, hive first ("HKEY_CURRENT_USER\Software\..."), and its
// values in the order they were set. Value names compare without regard to letter case, as in
// the registry.
struct RegistryKey {
    QString path;
    QList<RegistryValue> values;

    const RegistryValue* find(QStringView name) const {
        for (const RegistryValue& v : values) {
            if (QStringView(v.name).compare(name, Qt::CaseInsensitive) == 0)
                return &v;
        }
        return nullptr;
    }

    // Replaces a value of the same name in place, or adds it at the end.
    void set(RegistryValue value) {
        for (RegistryValue& v : values) {
            if (QStringView(v.name).compare(value.name, Qt::CaseInsensitive) == 0) {
                v = std::move(value);
                return;
            }
        }
        values.append(std::move(value));
    }

    bool remove(QStringView name) {
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (QStringView(values[i].name).compare(name, Qt::CaseInsensitive) == 0) {
                values.removeAt(i);
                return true;
            }
        }
        return false;
    }
};

} // namespace config
