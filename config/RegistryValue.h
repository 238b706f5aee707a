#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace config {

// One named value of a registry key, held as the registry holds it: a type number and raw bytes
// (a string is UTF-16LE with its terminating NUL, a dword is 4 little-endian bytes). Types this
// station does not use pass through a file untouched.
struct RegistryValue {
    enum Type : quint32 {
        None = 0,
        String = 1,
        ExpandString = 2,
        Binary = 3,
        Dword = 4,
        MultiString = 7,
        Qword = 11,
    };

    QString name; // empty for the key's default value
    quint32 type = None;
    QByteArray data;

    static RegistryValue string(QString name, QStringView text);
    static RegistryValue dword(QString name, quint32 value);
    static RegistryValue binary(QString name, QByteArray bytes);

    // The value read as a kind; no value when it is of another type.
    std::optional<QString> toString() const; // a string or an expandable string
    std::optional<quint32> toDword() const;
    std::optional<QByteArray> toBinary() const;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

} // namespace config
