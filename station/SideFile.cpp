#include "station/SideFile.h"

#include "base/CodePage.h"
#include "station/StationError.h"

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

QString decodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray encodeWith(QStringConverter::Encoding encoding, QStringView text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

} // namespace

config::LineList SideFile::decode(QByteArrayView bytes, SideFileEncoding& found) {
    if (bytes.startsWith(QByteArrayView(kUtf8Mark))) {
        found = SideFileEncoding::Utf8;
        return config::LineList::fromFileText(decodeWith(QStringConverter::Utf8, bytes.sliced(3)));
    }
    if (bytes.startsWith(QByteArrayView(kUtf16LEMark))) {
        found = SideFileEncoding::Utf16LE;
        return config::LineList::fromFileText(decodeWith(QStringConverter::Utf16LE, bytes.sliced(2)));
    }
    if (bytes.startsWith(QByteArrayView(kUtf16BEMark))) {
        found = SideFileEncoding::Utf16BE;
        return config::LineList::fromFileText(decodeWith(QStringConverter::Utf16BE, bytes.sliced(2)));
    }
    found = SideFileEncoding::CodePage;
    return config::LineList::fromFileText(base::codepage::widen(bytes));
}

QByteArray SideFile::encode(QStringView text, SideFileEncoding encoding) {
    switch (encoding) {
    case SideFileEncoding::Utf8:
        return QByteArray(kUtf8Mark) + encodeWith(QStringConverter::Utf8, text);
    case SideFileEncoding::Utf16LE:
        return QByteArray(kUtf16LEMark) + encodeWith(QStringConverter::Utf16LE, text);
    case SideFileEncoding::Utf16BE:
        return QByteArray(kUtf16BEMark) + encodeWith(QStringConverter::Utf16BE, text);
    case SideFileEncoding::CodePage:
        break;
    }
    return base::codepage::narrow(text);
}

std::optional<config::LineList> SideFile::readIfExists() {
    const QFileInfo info(m_fileName);
    if (!info.exists())
        return std::nullopt;
    // A pipe or a device would hold the start up for as long as its writer likes, and a file of
    // any size would be taken into memory whole: a camera list is neither.
    if (!info.isFile())
        throw StationError(u"\"%1\" no es un archivo com\u00fan: no se lee."_s.arg(m_fileName));
    if (info.size() > kMaxBytes)
        throw StationError(
            u"El archivo \"%1\" tiene %2 bytes, m\u00e1s de los %3 que puede tener una lista: no se lee."_s
                .arg(m_fileName)
                .arg(info.size())
                .arg(kMaxBytes));
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw StationError(u"Cannot open file \"%1\". %2"_s.arg(m_fileName, file.errorString()));
    // Bounded again in case it grew since.
    const QByteArray bytes = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw StationError(u"Cannot read file \"%1\". %2"_s.arg(m_fileName, file.errorString()));
    if (bytes.size() > kMaxBytes)
        throw StationError(
            u"El archivo \"%1\" tiene m\u00e1s de %2 bytes, los que puede tener una lista: no se lee."_s
                .arg(m_fileName)
                .arg(kMaxBytes));
    SideFileEncoding found;
    config::LineList list = decode(bytes, found);
    m_encoding = found;
    return list;
}

void SideFile::write(const config::LineList& list) const {
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
