#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace testsupport {

// Bytes the system holds on the receiving end of the loopback connection between `localPort` and
// `remotePort` that its process has not read yet (the receive queue in /proc/net/tcp); -1 when there
// is no such connection.
inline qint64 unreadOnLoopback(quint16 localPort, quint16 remotePort) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const auto portOf = [](const QByteArray& address) {
        return address.split(':').value(1).toUInt(nullptr, 16);
    };
    for (const QByteArray& row : table.readAll().split('\n')) {
        const QList<QByteArray> f = row.simplified().split(' ');
        if (f.size() >= 5 && portOf(f[1]) == localPort && portOf(f[2]) == remotePort)
            return f[4].split(':').value(1).toLongLong(nullptr, 16);
    }
    return -1;
}

// Bytes written to a socket that have not left it for the other end yet.
inline qint64 unsentOn(qintptr socket) {
    int queued = 0;
    return ::ioctl(int(socket), SIOCOUTQ, &queued) == 0 ? queued : -1;
}

} // namespace testsupport
