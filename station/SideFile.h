#pragma once

#include "config/LineList.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace station {

// How a side file was written: the byte-order mark found, UTF-16 recognised without one (as some
// editors save it), or none of these (the station's code page).
enum class SideFileEncoding { CodePage, Utf8, Utf16LE, Utf16BE, Utf16LENoMark, Utf16BENoMark };

// One of the camera-list files in the working directory ("camaras.txc", "NombreCamaras.txt",
// "turno.txt"). It remembers the encoding a read found, so that the list goes back to the file
// in that encoding, mark included; a list never read from the file is written in the code page
// without a mark. A file whose bytes did not decode cleanly is kept as a dated copy before the
// list is first written over it: what the station could not read is never lost to its write.
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

    // The bytes of a file that is read whole. Raises StationError when the file is not a regular
    // file, is larger than kMaxBytes, or cannot be opened or read.
    static QByteArray readBounded(const QString& fileName);

    // Creates or overwrites the file with the list's text, unchanged. Raises StationError on failure,
    // and when a copy of a file that did not decode cleanly cannot be made.
    void write(const config::LineList& list);

    // The byte-level rules, for callers that hold the bytes themselves.
    struct Decoded {
        config::LineList list;
        SideFileEncoding encoding = SideFileEncoding::CodePage;
        // False when bytes had to be replaced (invalid sequences, a cut UTF-16 unit, NUL bytes).
        bool clean = true;
    };
    static Decoded decode(QByteArrayView bytes);
    static QByteArray encode(QStringView text, SideFileEncoding encoding);

private:
    QString m_fileName;
    SideFileEncoding m_encoding = SideFileEncoding::CodePage;
    bool m_needsCopy = false; // read with replacements, and not yet kept aside
};

} // namespace station
