#pragma once

#include <QByteArray>
#include <QString>

// The station's single-byte code page, windows-1252: statement text is narrowed to it, serial bytes
// are decoded with it, raw logs and side files without a byte-order mark are written and read in it.
namespace base::codepage {

// A character the code page cannot hold becomes "?".
QByteArray narrow(QStringView text);

// Every byte maps to one character; the five bytes the code page leaves undefined keep their value.
QString widen(QByteArrayView bytes);
QChar widen(unsigned char byte);

} // namespace base::codepage
