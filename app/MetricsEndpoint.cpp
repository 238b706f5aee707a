#include "app/MetricsEndpoint.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace app {

std::optional<MetricsAddress> MetricsAddress::parse(const QString& text) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = text.first(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return std::nullopt; // an IPv6 address without brackets cannot be told from its port
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    MetricsAddress address{QHostAddress(host), quint16(port)};
    if (host == u"localhost"_s)
        address.host = QHostAddress::LocalHost;
    if (!ok || port > 65535 || address.host.isNull())
        return std::nullopt;
    return address;
}

MetricsEndpoint::MetricsEndpoint(std::function<QByteArray()> body, QObject* parent)
    : QObject(parent)
    , m_body(std::move(body))
    , m_server(this) {
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsEndpoint::accept);
}

bool MetricsEndpoint::listen(const MetricsAddress& address) {
    return m_server.listen(address.host, address.port);
}

void MetricsEndpoint::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // Full: the oldest connection that has not sent a whole request gives its place up, so that
        // idle connections, however many are opened, never keep a real scraper out.
        if (qsizetype(m_open.size()) >= kMaxConnections) {
            const auto idle = std::find_if(m_open.begin(), m_open.end(), [](const QTcpSocket* open) {
                return !open->property("answered").toBool();
            });
            if (idle == m_open.end()) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            QTcpSocket* const oldest = *idle;
            m_open.erase(idle);
            QObject::disconnect(oldest, nullptr, this, nullptr);
            oldest->abort();
            oldest->deleteLater();
        }
        m_open.push_back(socket);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            std::erase(m_open, socket);
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        // A scraper that stalls while sending its request or reading the answer is cut off.
        QTimer::singleShot(kConnectionLimit, socket, [socket] { socket->abort(); });
    }
}

void MetricsEndpoint::read(QTcpSocket* socket) {
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    if (!head.contains("\r\n\r\n") && !head.contains("\n\n")) {
        if (head.size() > kMaxRequestHead)
            answer(socket, "431 Request Header Fields Too Large", {});
        else
            socket->setProperty("head", head);
        return;
    }
    const QList<QByteArray> request = head.left(head.indexOf('\n')).trimmed().split(' ');
    const QByteArray method = request.value(0);
    QByteArray path = request.value(1);
    if (const qsizetype query = path.indexOf('?'); query >= 0)
        path.truncate(query);
    if (method != "GET")
        answer(socket, "405 Method Not Allowed", {});
    else if (path != "/metrics" && path != "/")
        answer(socket, "404 Not Found", {});
    else
        answer(socket, "200 OK", m_body());
}

void MetricsEndpoint::answer(QTcpSocket* socket, const QByteArray& status, const QByteArray& body) {
    socket->setProperty("answered", true);
    socket->setProperty("head", QVariant());
    QByteArray response = "HTTP/1.1 " + status + "\r\n";
    response += "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += body;
    // Written into the socket's buffer; the event loop sends it and the close follows.
    socket->write(response);
    socket->disconnectFromHost();
}

} // namespace app
