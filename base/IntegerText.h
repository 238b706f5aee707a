#pragma once

#include <QString>

namespace base {

// The station's text-to-integer conversion: optional blanks in front, an optional sign and decimal
// digits, nothing after them. Fails with "'%s' is not a valid integer value".
qint64 toInteger(QStringView text);

QString notValidIntegerMessage(QStringView text);

} // namespace base
