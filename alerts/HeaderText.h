#pragma once

#include <QByteArray>
#include <QString>

namespace alerts {

// Text that goes into a header line or an SMTP command must stay on its line: a CR, LF or NUL
// would let a setting or a device value add headers or commands of its own. `what` names the
// field for the operator.
void refuseLineBreaks(QStringView text, QStringView what);

// Header text as it goes on the wire, still unfolded: printable ASCII as it is when it folds into
// lines of 78 octets, anything else (a long word, a long run of blanks, characters outside
// printable ASCII) as RFC 2047 encoded-words (UTF-8, base64) separated by blanks.
QByteArray encodeHeaderText(QStringView text);

// One header field, "Name: value" with its CR LF, folded before a blank so that its lines keep to
// 78 octets wherever the value has a blank to fold at.
QByteArray headerField(QByteArrayView name, QByteArrayView value);

// Whether the text is printable ASCII (blanks and tabs included).
bool isPlainAscii(QStringView text);

} // namespace alerts
