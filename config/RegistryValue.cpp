#include "config/RegistryValue.h"

#include <QtEndian>

namespace config {

RegistryValue RegistryValue::string(QString name, QStringView text) {
    QByteArray data(static_cast<qsizetype>((text.size() + 1) * 2), '\0');
    if (!text.isEmpty())
        qToLittleEndian<char16_t>(text.utf16(), text.size(), data.data());
    return {std::move(name), String, std::move(data)};
}

RegistryValue RegistryValue::dword(QString name, quint32 value) {
    QByteArray data(4, '\0');
    qToLittleEndian(value, data.data());
    return {std::move(name), Dword, std::move(data)};
}

RegistryValue RegistryValue::binary(QString name, QByteArray bytes) {
    return {std::move(name), Binary, std::move(bytes)};
}

std::optional<QString> RegistryValue::toString() const {
    if (type != String && type != ExpandString)
        return std::nullopt;
    QString text(data.size() / 2, Qt::Uninitialized);
    if (!text.isEmpty())
        qFromLittleEndian<char16_t>(data.constData(), text.size(), text.data());
    // The registry hands a string back up to its first NUL, with or without a terminator stored.
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

std::optional<quint32> RegistryValue::toDword() const {
    if (type != Dword || data.size() != 4)
        return std::nullopt;
    return qFromLittleEndian<quint32>(data.constData());
}

std::optional<QByteArray> RegistryValue::toBinary() const {
    if (type != Binary)
        return std::nullopt;
    return data;
}

} // namespace config
