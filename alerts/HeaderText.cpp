#include "alerts/HeaderText.h"

#include "alerts/MailError.h"

using namespace Qt::StringLiterals;

namespace alerts {

void refuseLineBreaks(QStringView text, QStringView what) {
    for (const QChar c : text)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            throw MailError(
                u"Correo no enviado: %1 contiene un salto de línea o un carácter nulo"_s.arg(what));
}

bool isPlainAscii(QStringView text) {
    for (const QChar c : text)
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() > 0x7E)
            return false;
    return true;
}

QByteArray encodeHeaderText(QStringView text) {
    if (isPlainAscii(text))
        return text.toLatin1();
    // [rfc2047] 2: an encoded-word is at most 75 characters; 45 octets of UTF-8 give 60 of base64.
    // Words are cut between whole characters, never inside one.
    constexpr qsizetype kOctetsPerWord = 45;
    QByteArray out;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray octets = text.sliced(i, width).toUtf8();
        if (chunk.size() + octets.size() > kOctetsPerWord)
            flush();
        chunk += octets;
        i += width;
    }
    flush();
    return out;
}

} // namespace alerts
