#pragma once

#include "config/RegistryValue.h"

#include <QHash>
#include <QList>
#include <QString>

namespace config {

// A key of a registry file: its full path, hive first ("HKEY_CURRENT_USER\Software\..."), and its
// values in the order they were set. Value names compare without regard to letter case, as in
// the registry. Values are found by name through an index, so that a list of tens of thousands of
// items is read and written in linear time.
class RegistryKey final {
public:
    RegistryKey() = default;
    explicit RegistryKey(QString keyPath)
        : path(std::move(keyPath)) {}

    QString path;

    const QList<RegistryValue>& values() const { return m_values; }

    const RegistryValue* find(QStringView name) const {
        const auto at = m_index.constFind(folded(name));
        return at == m_index.cend() ? nullptr : &m_values[*at];
    }

    // Replaces a value of the same name in place, or adds it at the end.
    void set(RegistryValue value) {
        const QString key = folded(value.name);
        if (const auto at = m_index.constFind(key); at != m_index.cend()) {
            m_values[*at] = std::move(value);
            return;
        }
        m_index.insert(key, m_values.size());
        m_values.append(std::move(value));
    }

    bool remove(QStringView name) {
        return removeIf([key = folded(name)](const RegistryValue& v) { return folded(v.name) == key; }) > 0;
    }

    // Removes every value the predicate holds for, in one pass; returns how many.
    template <typename Predicate> qsizetype removeIf(Predicate&& remove) {
        const qsizetype removed = m_values.removeIf(std::forward<Predicate>(remove));
        if (removed > 0) {
            m_index.clear();
            for (qsizetype i = 0; i < m_values.size(); ++i)
                m_index.insert(folded(m_values[i].name), i);
        }
        return removed;
    }

private:
    static QString folded(QStringView name) { return name.toString().toCaseFolded(); }

    QList<RegistryValue> m_values;
    QHash<QString, qsizetype> m_index; // folded name to position in m_values
};

} // namespace config
