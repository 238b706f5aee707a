#include "config/SettingsStore.h"

#include "base/AsideName.h"

#include "config/ConfigError.h"
#include "config/ExtendedReal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace config {

namespace {

[[noreturn]] void wrongKind(QStringView name) {
    throw ConfigError(u"Tipo de dato no válido para '%1'"_s.arg(name));
}

QString lineNumbers(const QList<RegistryFile::Problem>& problems) {
    QStringList numbers;
    for (const RegistryFile::Problem& p : problems)
        numbers.append(QString::number(p.line));
    return numbers.join(u", "_s);
}

} // namespace

QString SettingsStore::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + u"/.config"_s;
    return base + u"/Tarvenix/OrvaneDB.reg"_s;
}

SettingsStore::SettingsStore(QString filePath, Now now)
    : m_path(std::move(filePath))
    , m_now(now ? std::move(now) : Now([] { return QDateTime::currentDateTime(); })) {}

QString SettingsStore::asideName() const {
    return base::asideName(m_path, m_now());
}

std::optional<QString> SettingsStore::load() {
    m_file = {};
    m_refuseSave.reset();
    try {
        m_file = RegistryFile::read(m_path);
    } catch (const ConfigError& e) {
        if (!QFile::exists(m_path) || QFileInfo(m_path).isDir() || !QFileInfo(m_path).isReadable()) {
            m_refuseSave =
                u"No se pudo leer el archivo de configuración \"%1\": %2. La estación arranca con los "
                u"valores por omisión y no escribirá sobre él."_s.arg(m_path, e.message());
            return m_refuseSave;
        }
        const QString aside = asideName();
        if (!QFile::rename(m_path, aside)) {
            m_refuseSave =
                u"El archivo de configuración \"%1\" no se pudo leer (%2) ni apartar. La estación "
                u"arranca con los valores por omisión y no escribirá sobre él."_s.arg(m_path, e.message());
            return m_refuseSave;
        }
        return u"El archivo de configuración \"%1\" no se pudo leer (%2). Se guardó aparte como \"%3\" y la "
               u"estación arranca con los valores por omisión."_s.arg(m_path, e.message(), aside);
    }
    if (m_file.problems().isEmpty())
        return std::nullopt;
    const QString aside = asideName();
    if (!QFile::copy(m_path, aside)) {
        m_refuseSave =
            u"El archivo de configuración \"%1\" tiene líneas que no se entienden (%2) y no se pudo "
            u"copiar aparte; la estación no escribirá sobre él."_s.arg(m_path,
                                                                       lineNumbers(m_file.problems()));
        return m_refuseSave;
    }
    return u"El archivo de configuración \"%1\" tiene líneas que no se entienden (%2); se dejaron de lado. "
           u"Una "
           u"copia del archivo tal como estaba quedó en \"%3\"."_s.arg(m_path, lineNumbers(m_file.problems()),
                                                                       aside);
}

std::optional<QString> SettingsStore::keepCopy() {
    if (!QFileInfo(m_path).isFile())
        return std::nullopt;
    const QString aside = asideName();
    if (!QFile::copy(m_path, aside)) {
        m_refuseSave = u"No se pudo guardar una copia del archivo de configuraci\u00f3n \"%1\" en \"%2\"; la "
                       u"estaci\u00f3n no escribir\u00e1 sobre \u00e9l."_s.arg(m_path, aside);
        throw ConfigError(*m_refuseSave);
    }
    return aside;
}

void SettingsStore::save(const std::function<void()>& beforeRename) {
    if (m_refuseSave)
        throw ConfigError(*m_refuseSave);
    try {
        m_file.write(m_path, beforeRename);
    } catch (const ConfigError& e) {
        throw ConfigError(u"No se pudo guardar la configuración en \"%1\": %2"_s.arg(m_path, e.message()));
    }
}

QString SettingsStore::fullPath(QStringView key) const {
    QStringView relative = key;
    while (relative.startsWith(u'\\'))
        relative = relative.sliced(1);
    while (relative.endsWith(u'\\'))
        relative.chop(1);
    if (relative.isEmpty())
        return kHive.toString();
    return kHive.toString() + u'\\' + relative.toString();
}

const RegistryValue* SettingsStore::find(QStringView key, QStringView name) const {
    const RegistryKey* k = m_file.key(fullPath(key));
    return k ? k->find(name) : nullptr;
}

QString SettingsStore::readString(QStringView key, QStringView name, const QString& fallback) const {
    const RegistryValue* v = find(key, name);
    if (!v)
        return fallback;
    std::optional<QString> text = v->toString();
    if (!text)
        wrongKind(name);
    return *text;
}

qint32 SettingsStore::readInteger(QStringView key, QStringView name, qint32 fallback) const {
    const RegistryValue* v = find(key, name);
    if (!v)
        return fallback;
    const std::optional<quint32> dword = v->toDword();
    if (!dword)
        wrongKind(name);
    return static_cast<qint32>(*dword);
}

QByteArray SettingsStore::readBinary(QStringView key, QStringView name, qsizetype size,
                                     const QByteArray& fallback) const {
    const RegistryValue* v = find(key, name);
    if (!v)
        return fallback;
    std::optional<QByteArray> bytes = v->toBinary();
    if (!bytes || bytes->size() != size)
        wrongKind(name);
    return *bytes;
}

double SettingsStore::readReal(QStringView key, QStringView name, double fallback) const {
    if (!find(key, name))
        return fallback;
    const std::optional<double> value = ExtendedReal::decode(readBinary(key, name, ExtendedReal::kSize));
    if (!value)
        wrongKind(name);
    return *value;
}

void SettingsStore::writeString(QStringView key, const QString& name, QStringView value) {
    m_file.createKey(fullPath(key)).set(RegistryValue::string(name, value));
}

void SettingsStore::writeInteger(QStringView key, const QString& name, qint32 value) {
    m_file.createKey(fullPath(key)).set(RegistryValue::dword(name, static_cast<quint32>(value)));
}

void SettingsStore::writeBinary(QStringView key, const QString& name, const QByteArray& value) {
    m_file.createKey(fullPath(key)).set(RegistryValue::binary(name, value));
}

void SettingsStore::writeReal(QStringView key, const QString& name, double value) {
    writeBinary(key, name, ExtendedReal::encode(value));
}

bool SettingsStore::valueExists(QStringView key, QStringView name) const {
    return find(key, name) != nullptr;
}

bool SettingsStore::keyExists(QStringView key) const {
    return m_file.hasKey(fullPath(key));
}

bool SettingsStore::deleteValue(QStringView key, QStringView name) {
    RegistryKey* k = m_file.key(fullPath(key));
    return k && k->remove(name);
}

qsizetype SettingsStore::deleteValues(QStringView key, const std::function<bool(QStringView name)>& which) {
    RegistryKey* k = m_file.key(fullPath(key));
    return k ? k->removeIf([&which](const RegistryValue& v) { return which(v.name); }) : 0;
}

QStringList SettingsStore::valueNames(QStringView key) const {
    QStringList names;
    if (const RegistryKey* k = m_file.key(fullPath(key))) {
        for (const RegistryValue& v : k->values())
            names.append(v.name);
    }
    return names;
}

} // namespace config
