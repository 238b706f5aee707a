#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QString>
#include <QTcpSocket>

namespace testsupport {

// The guide a generated line carries: the code of its code|weight|plaza group.
inline QString guideOf(const QByteArray& line) {
    return QString::fromLatin1(line.split('!').value(4).split('|').value(0));
}

// The metrics as a hub's Prometheus would read them: name and value of every sample. Over a
// blocking socket; the endpoint closes the connection after its answer.
inline QMap<QString, double> scrapeMetrics(quint16 port, int waitMs) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(waitMs))
        return {};
    socket.write("GET /metrics HTTP/1.1\r\nHost: station\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(waitMs))
        response += socket.readAll();
    response += socket.readAll();
    QMap<QString, double> samples;
    for (const QByteArray& line : response.mid(response.indexOf("\r\n\r\n") + 4).split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (!line.startsWith('#') && parts.size() == 2)
            samples[QString::fromLatin1(parts[0])] = parts[1].toDouble();
    }
    return samples;
}

} // namespace testsupport
