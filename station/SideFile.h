#pragma once

#include "config/LineList.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace station {

// How a side file was written: the byte-order mark found, or none (the station's code page).
enum class SideFileEncoding { CodePage, Utf8, Utf16LE, Utf16BE };

// One of the camera-list files in the working directory ("camaras.txc", "NombreCamaras.txt",
// "turno.txt"). It remembers the encoding a read found, so that the list goes back to the file
// in that encoding, mark included; a list never read from the file is written in the code page
// without a mark.
class SideFile final {
public:
    // The largest file read as a list.
    static constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

    explicit SideFile(QString fileName)
        : m_fileName(std::move(fileName)) {}

    const QString& fileName() const { return m_fileName; }
    SideFileEncoding encoding() const { return m_encoding; }

    // The whole file as a list, or nothing when there is no such file. Raises StationError when
    // the file exists but cannot be read, is not a regular file or is larger than kMaxBytes.
    std::optional<config::LineList> readIfExists();

    // Creates or overwrites the file with the list's text, unchanged. Raises StationError on failure.
    void write(const config::LineList& list) const;

    // The byte-level rules, for callers that hold the bytes themselves.
    static config::LineList decode(QByteArrayView bytes, SideFileEncoding& found);
    static QByteArray encode(QStringView text, SideFileEncoding encoding);

private:
    QString m_fileName;
    SideFileEncoding m_encoding = SideFileEncoding::CodePage;
};

} // namespace station
