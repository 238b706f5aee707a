#include "station/SideFile.h"

#include "base/AsideName.h"

#include "base/CodePage.h"
#include "station/StationError.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

using namespace Qt::StringLiterals;

namespace station {

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr char kUtf16LEMark[] = "\xFF\xFE";
constexpr char kUtf16BEMark[] = "\xFE\xFF";

struct Text {
    QString text;
    bool clean;
};

Text decodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    // The mark was taken off already: a second one is a character of the text, not to be eaten.
    QStringDecoder decoder(encoding,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return {std::move(text), !decoder.hasError()};
}

QByteArray encodeWith(QStringConverter::Encoding encoding, QStringView text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

SideFile::Decoded decoded(Text text, SideFileEncoding encoding) {
    return {config::LineList::fromFileText(text.text), encoding, text.clean};
}

} // namespace

SideFile::Decoded SideFile::decode(QByteArrayView bytes) {
    if (bytes.startsWith(QByteArrayView(kUtf8Mark)))
        return decoded(decodeWith(QStringConverter::Utf8, bytes.sliced(3)), SideFileEncoding::Utf8);
    if (bytes.startsWith(QByteArrayView(kUtf16LEMark)))
        return decoded(decodeWith(QStringConverter::Utf16LE, bytes.sliced(2)), SideFileEncoding::Utf16LE);
    if (bytes.startsWith(QByteArrayView(kUtf16BEMark)))
        return decoded(decodeWith(QStringConverter::Utf16BE, bytes.sliced(2)), SideFileEncoding::Utf16BE);
    // Text in the code page never holds a NUL; UTF-16 of Latin text without its mark has one in
    // every other byte, starting with the second (little-endian) or the first (big-endian).
    if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0')
        return decoded(decodeWith(QStringConverter::Utf16LE, bytes), SideFileEncoding::Utf16LENoMark);
    if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] != '\0')
        return decoded(decodeWith(QStringConverter::Utf16BE, bytes), SideFileEncoding::Utf16BENoMark);
    return decoded({base::codepage::widen(bytes), !bytes.contains('\0')}, SideFileEncoding::CodePage);
}

QByteArray SideFile::encode(QStringView text, SideFileEncoding encoding) {
    switch (encoding) {
    case SideFileEncoding::Utf8:
        return QByteArray(kUtf8Mark) + encodeWith(QStringConverter::Utf8, text);
    case SideFileEncoding::Utf16LE:
        return QByteArray(kUtf16LEMark) + encodeWith(QStringConverter::Utf16LE, text);
    case SideFileEncoding::Utf16BE:
        return QByteArray(kUtf16BEMark) + encodeWith(QStringConverter::Utf16BE, text);
    case SideFileEncoding::Utf16LENoMark:
        return encodeWith(QStringConverter::Utf16LE, text);
    case SideFileEncoding::Utf16BENoMark:
        return encodeWith(QStringConverter::Utf16BE, text);
    case SideFileEncoding::CodePage:
        break;
    }
    return base::codepage::narrow(text);
}

std::optional<config::LineList> SideFile::readIfExists() {
    if (!QFileInfo::exists(m_fileName))
        return std::nullopt;
    Decoded read = decode(readBounded(m_fileName));
    m_encoding = read.encoding;
    m_needsCopy = !read.clean;
    return std::move(read.list);
}

QByteArray SideFile::readBounded(const QString& fileName) {
    const QFileInfo info(fileName);
    // A pipe or a device would hold the reader up for as long as its writer likes, and a file of
    // any size would be taken into memory whole: a file read as text is neither.
    if (info.exists() && !info.isFile())
        throw StationError(u"\"%1\" no es un archivo com\u00fan: no se lee."_s.arg(fileName));
    if (info.size() > kMaxBytes)
        throw StationError(
            u"El archivo \"%1\" tiene %2 bytes, m\u00e1s de los %3 que puede tener una lista: no se lee."_s
                .arg(fileName)
                .arg(info.size())
                .arg(kMaxBytes));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw StationError(u"Cannot open file \"%1\". %2"_s.arg(fileName, file.errorString()));
    // Bounded again in case it grew since.
    QByteArray bytes = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw StationError(u"Cannot read file \"%1\". %2"_s.arg(fileName, file.errorString()));
    if (bytes.size() > kMaxBytes)
        throw StationError(
            u"El archivo \"%1\" tiene m\u00e1s de %2 bytes, los que puede tener una lista: no se lee."_s
                .arg(fileName)
                .arg(kMaxBytes));
    return bytes;
}

void SideFile::write(const config::LineList& list) {
    if (m_needsCopy && QFileInfo(m_fileName).isFile()) {
        const QString copy = base::asideName(m_fileName, QDateTime::currentDateTime());
        if (!QFile::copy(m_fileName, copy))
            throw StationError(
                u"\"%1\" no se ley\u00f3 limpio y no se pudo guardar una copia en \"%2\": no se "
                u"escribe encima."_s.arg(m_fileName, copy));
        m_needsCopy = false;
    }
    const QByteArray bytes = encode(list.text(), m_encoding);
    // Written whole or not at all: a failed close must not leave the operator a cut-off list.
    QSaveFile file(m_fileName);
    if (file.open(QIODevice::WriteOnly)) {
        if (file.write(bytes) != bytes.size() || !file.commit())
            throw StationError(u"Cannot write file \"%1\". %2"_s.arg(m_fileName, file.errorString()));
        return;
    }
    // A folder the station may not create files in can still hold a file it may write: then the
    // file is overwritten where it is, as the only way left to keep the list.
    if (QFileInfo(m_fileName).isFile()) {
        QFile inPlace(m_fileName);
        if (!inPlace.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw StationError(u"Cannot create file \"%1\". %2"_s.arg(m_fileName, inPlace.errorString()));
        if (inPlace.write(bytes) != bytes.size() || !inPlace.flush())
            throw StationError(u"Cannot write file \"%1\". %2"_s.arg(m_fileName, inPlace.errorString()));
        return;
    }
    throw StationError(u"Cannot create file \"%1\". %2"_s.arg(m_fileName, file.errorString()));
}

} // namespace station
