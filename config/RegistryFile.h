#pragma once

#include "config/RegistryKey.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

namespace config {

// A registry export file ("Windows Registry Editor Version 5.00"): what regedit writes and reads
// back, so that a station's settings move between Windows and here as they are. Reads UTF-16LE
// (regedit's own form) and UTF-8; writes UTF-16LE with a byte-order mark and CR LF, the only form
// regedit imports with every character intact.
class RegistryFile final {
public:
    // A line that was not understood and was left out.
    struct Problem {
        int line = 0; // counting from 1
        QString text;
    };

    static constexpr QStringView kHeader = u"Windows Registry Editor Version 5.00";

    // Throws ConfigError when the bytes are not a registry export at all (no header, or text that
    // cannot be decoded). Lines that are not understood are skipped and listed in `problems()`.
    static RegistryFile parse(QByteArrayView bytes);
    QByteArray toBytes() const;

    // A missing file reads as an empty one. Throws ConfigError when the file cannot be read or
    // is not a registry export.
    static RegistryFile read(const QString& path);
    // Replaces the file at `path` as a whole or not at all: the text goes to a temporary file in
    // the same folder, which is flushed to disk and then renamed over the old one. `beforeRename`
    // runs just before the rename (tests use it to break off a write there). Throws ConfigError.
    void write(const QString& path, const std::function<void()>& beforeRename = {}) const;

    const QList<Problem>& problems() const { return m_problems; }

    // Key paths are full paths, hive first, "\" between names, compared without regard to case.
    const RegistryKey* key(QStringView path) const;
    RegistryKey* key(QStringView path);
    // The key, created with every key above it that is missing. Throws ConfigError for a path
    // with an empty name in it.
    RegistryKey& createKey(QStringView path);
    // Removes the key and every key below it. Returns whether there was one.
    bool removeKey(QStringView path);
    // Whether the key exists, by itself or as the parent of a key below it.
    bool hasKey(QStringView path) const;

    const std::vector<RegistryKey>& keys() const { return m_keys; }

private:
    std::vector<RegistryKey> m_keys;
    QList<Problem> m_problems;
};

} // namespace config
