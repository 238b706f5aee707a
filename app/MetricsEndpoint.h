#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class QTcpSocket;

namespace app {

// "address:port" of --metrics; IPv6 addresses in brackets ("[::1]:9310").
struct MetricsAddress {
    QHostAddress host;
    quint16 port = 0;

    static std::optional<MetricsAddress> parse(const QString& text);
};

// A minimal HTTP/1.1 server for Prometheus: GET /metrics (or /) answers with the text `body`
// gives, everything else with an error status, and each connection is closed after one answer.
// It lives on the core's thread and calls `body` there, so the values need no locking; nothing in
// it waits: a scraper that sends its request slowly or never reads the answer is dropped after
// `kConnectionLimit`, and beyond `kMaxConnections` the oldest connection that has not sent a whole
// request is closed to make room (the new one, when every open one is being answered).
class MetricsEndpoint final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MetricsEndpoint)

public:
    static constexpr std::chrono::milliseconds kConnectionLimit{5000};
    static constexpr int kMaxConnections = 16;
    static constexpr qsizetype kMaxRequestHead = 8192;

    explicit MetricsEndpoint(std::function<QByteArray()> body, QObject* parent = nullptr);

    bool listen(const MetricsAddress& address);
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }

private:
    void accept();
    void read(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& status, const QByteArray& body);

    std::function<QByteArray()> m_body;
    QTcpServer m_server;
    std::vector<QTcpSocket*> m_open; // children of this, oldest first
};

} // namespace app
