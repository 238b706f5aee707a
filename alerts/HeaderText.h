#pragma once

#include <QByteArray>
#include <QString>

namespace alerts {

// Text that goes into a header line or an SMTP command must stay on its line: a CR, LF or NUL
// would let a setting or a device value add headers or commands of its own. `what` names the
// field for the operator.
void refuseLineBreaks(QStringView text, QStringView what);

// Header text as it goes on the wire: printable ASCII as it is, anything else as RFC 2047
// encoded-words (UTF-8, base64), each short enough for a folded line.
QByteArray encodeHeaderText(QStringView text);

// Whether the text is printable ASCII (blanks and tabs included).
bool isPlainAscii(QStringView text);

} // namespace alerts
