#pragma once

#include "config/RegistryFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace config {

// The per-user settings store: a tree of keys under HKEY_CURRENT_USER holding strings, 32-bit
// integers and binary values, kept in one registry export file. Key paths are relative to
// HKEY_CURRENT_USER, with "\" between names (for example "Software\Tarvenix\OrvaneDB\Vuruvov").
// Reads and writes work on the copy in memory; `load` and `save` move it from and to the file.
class SettingsStore final {
public:
    using Now = std::function<QDateTime()>;

    static constexpr QStringView kHive = u"HKEY_CURRENT_USER";

    // $XDG_CONFIG_HOME/Tarvenix/OrvaneDB.reg, or ~/.config/Tarvenix/OrvaneDB.reg without it.
    static QString defaultFilePath();

    explicit SettingsStore(QString filePath = defaultFilePath(), Now now = {});

    const QString& filePath() const { return m_path; }

    // Reads the file; a missing file is an empty store. Returns the operator's message when the
    // file could not be read in full:
    // - not a registry export at all: it is renamed aside as a dated copy and the store is empty;
    // - some lines not understood: they are left out, and a dated copy keeps the file as it was;
    // - unreadable, or the copy could not be made: the store is empty and `save` refuses to write
    //   over the file.
    std::optional<QString> load();

    // Keeps a dated copy of the file as it is on disk, before a save writes over what a reader
    // could not take in. Returns the copy's name, or nothing when there is no file; when the copy
    // cannot be made, throws ConfigError and `save` refuses to write over the file.
    std::optional<QString> keepCopy();

    // Writes the whole store to its file, replacing it at once. Throws ConfigError.
    void save(const std::function<void()>& beforeRename = {});

    // Reads a value of a kind; the default when it is absent. A value of another kind throws
    // ConfigError ("Tipo de dato no válido para 'name'").
    QString readString(QStringView key, QStringView name, const QString& fallback = {}) const;
    qint32 readInteger(QStringView key, QStringView name, qint32 fallback = 0) const;
    // A binary value of exactly `size` bytes.
    QByteArray readBinary(QStringView key, QStringView name, qsizetype size,
                          const QByteArray& fallback = {}) const;
    // The 10-byte extended real of a spin field.
    double readReal(QStringView key, QStringView name, double fallback = 0) const;

    // Writes a value, creating the keys on its path. Throws ConfigError for a key path with an
    // empty name in it.
    void writeString(QStringView key, const QString& name, QStringView value);
    void writeInteger(QStringView key, const QString& name, qint32 value);
    void writeBinary(QStringView key, const QString& name, const QByteArray& value);
    void writeReal(QStringView key, const QString& name, double value);

    bool valueExists(QStringView key, QStringView name) const;
    bool keyExists(QStringView key) const;
    // Returns whether there was such a value.
    bool deleteValue(QStringView key, QStringView name);
    // Deletes every value of the key whose name `which` holds for, in one pass; returns how many.
    qsizetype deleteValues(QStringView key, const std::function<bool(QStringView name)>& which);
    // The names of the key's values, in the order they were set; empty for a missing key.
    QStringList valueNames(QStringView key) const;

    const RegistryFile& file() const { return m_file; }

private:
    QString fullPath(QStringView key) const;
    const RegistryValue* find(QStringView key, QStringView name) const;
    QString asideName() const;

    QString m_path;
    Now m_now;
    RegistryFile m_file;
    // Set when the file on disk holds something this store could not take in and could not set
    // aside: writing over it would lose it.
    std::optional<QString> m_refuseSave;
};

} // namespace config
