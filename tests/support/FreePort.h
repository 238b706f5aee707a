#pragma once

#include <QHostAddress>
#include <QTcpServer>

namespace testsupport {

// A port nobody listens on right now on `address`; 0 when none could be had.
inline quint16 freePort(const QHostAddress& address = QHostAddress(QHostAddress::Any)) {
    QTcpServer probe;
    return probe.listen(address, 0) ? probe.serverPort() : quint16(0);
}

} // namespace testsupport
