#pragma once

#include <QString>

namespace base {

// The station's text-to-integer conversion: optional blanks in front, an optional sign and decimal
// digits, nothing after them, within the 32-bit signed range. Fails with "'%s' is not a valid
// integer value".
qint32 toInteger(QStringView text);

QString notValidIntegerMessage(QStringView text);

} // namespace base
