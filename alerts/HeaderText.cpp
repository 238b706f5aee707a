#include "alerts/HeaderText.h"

#include "alerts/MailError.h"

#include <QList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace alerts {

namespace {

// [rfc5322] 2.1.1: a line should hold at most 78 octets.
constexpr qsizetype kFoldedLine = 78;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// [rfc5322] 2.2.3: a line is folded by a CR LF put before a blank. Only before the last blank of
// a run, so that no line holds blanks alone. The pieces between those places, in their order.
QList<QByteArrayView> foldPieces(QByteArrayView text) {
    QList<QByteArrayView> pieces;
    qsizetype start = 0;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (isBlank(text[i]) && !isBlank(text[i + 1])) {
            pieces.append(text.sliced(start, i - start));
            start = i;
        }
    }
    pieces.append(text.sliced(start));
    return pieces;
}

} // namespace

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
    if (isPlainAscii(text)) {
        const QByteArray plain = text.toLatin1();
        // Plain when every piece between the places to fold at fits a line of its own.
        const QList<QByteArrayView> pieces = foldPieces(plain);
        if (std::all_of(pieces.begin(), pieces.end(),
                        [](QByteArrayView piece) { return piece.size() < kFoldedLine; }))
            return plain;
    }
    // [rfc2047] 2: an encoded-word is at most 75 characters; 42 octets of UTF-8 give 56 of base64
    // and a word of 68, which fits a folded line and, first, a line after "Reply-To: ". Words are
    // cut between whole characters, never inside one.
    constexpr qsizetype kOctetsPerWord = 42;
    QByteArray out;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += ' ';
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

QByteArray headerField(QByteArrayView name, QByteArrayView value) {
    const QByteArray line = name.toByteArray() + ": " + value.toByteArray();
    QByteArray out;
    out.reserve(line.size() + line.size() / 32 + 2);
    qsizetype lineLength = 0;
    for (const QByteArrayView piece : foldPieces(line)) {
        if (lineLength > 0 && lineLength + piece.size() > kFoldedLine) {
            out += "\r\n";
            lineLength = 0;
        }
        out += piece;
        lineLength += piece.size();
    }
    out += "\r\n";
    return out;
}

} // namespace alerts
