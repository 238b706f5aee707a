#include "station/LineSplitter.h"

namespace station {

void LineSplitter::decodeInto(QChar* out, QByteArrayView bytes) {
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        *out++ = code < 0x80 ? QChar(char16_t(code)) : QChar(QChar::ReplacementCharacter);
    }
}

QString LineSplitter::decode(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    decodeInto(text.data(), bytes);
    return text;
}

} // namespace station
