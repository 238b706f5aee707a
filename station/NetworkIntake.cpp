#include "station/NetworkIntake.h"

#include "station/DeviceSocket.h"
#include "station/IntakeQueue.h"
#include "station/LineSplitter.h"
#include "station/OriginTag.h"
#include "station/StationError.h"

#include <QHostAddress>
#include <QTcpServer>

#include <atomic>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace station {

namespace {

constexpr QChar kStx = QChar(0x02);
constexpr QChar kTab = u'\t';
constexpr QChar kLf = u'\n';

// IPv4 peers always read as dotted text, also when they reach us as IPv4-mapped IPv6 addresses.
QString originOf(const QHostAddress& peer) {
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : peer.toString();
}

bool ipv6Unavailable(QAbstractSocket::SocketError error) {
    return error == QAbstractSocket::UnsupportedSocketOperationError ||
           error == QAbstractSocket::SocketAddressNotAvailableError;
}

// Hands every accepted connection over as its bare descriptor: the intake reads it itself.
class Listener final : public QTcpServer {
public:
    explicit Listener(std::function<void(int)> accepted)
        : m_accepted(std::move(accepted)) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_accepted(int(descriptor)); }

private:
    std::function<void(int)> m_accepted;
};

} // namespace

// Everything below runs on the intake's I/O thread only.
class NetworkIntake::Io final : public QObject {
public:
    Io(IntakeQueue& queue, OriginTag& origin)
        : m_queue(queue)
        , m_origin(origin) {
        m_scratch.resize(kSocketReadBuffer);
        // Emitted on the core's thread when the tick has worked the queue down; queued to us.
        QObject::connect(&m_queue, &IntakeQueue::drained, this, [this] { resume(); });
    }

    ~Io() override { closeAll(); }

    Q_DISABLE_COPY_MOVE(Io)

    // The bound port, or nothing when the port cannot be bound.
    std::optional<quint16> listen(quint16 port) {
        // With port 0 the IPv4 listener picks the port and the IPv6 one must get the same; if
        // that one is taken over IPv6, pick again.
        for (int attempt = 0; attempt < 8; ++attempt) {
            auto v4 = makeServer();
            if (!v4->listen(QHostAddress::AnyIPv4, port))
                return std::nullopt;
            const quint16 bound = v4->serverPort();
            auto v6 = makeServer();
            // AnyIPv6 binds with IPV6_V6ONLY, so the two listeners never overlap.
            if (v6->listen(QHostAddress::AnyIPv6, bound)) {
                m_v6 = std::move(v6);
            } else if (!ipv6Unavailable(v6->serverError())) {
                if (port == 0)
                    continue;
                return std::nullopt;
            }
            m_v4 = std::move(v4);
            return bound;
        }
        return std::nullopt;
    }

    void closeAll() {
        m_v4.reset();
        m_v6.reset();
        m_connections.clear();
        countConnections();
    }

    void setReport(std::function<void(const QString&)> report) { m_report = std::move(report); }

    // The one member the core's thread reads, so that it never waits on this thread for it.
    qsizetype connectionCount() const { return m_connectionCount.load(); }

private:
    struct Connection {
        std::unique_ptr<DeviceSocket> socket;
        QString origin;
        QString prefix;     // STX, origin, TAB: the start of every item of this connection
        quint64 source = 0; // the queue serves each connection in turn with the others
        LineSplitter splitter;
        bool paused = false;  // the queue holds this device back: its bytes wait in the kernel
        bool cutTold = false; // a line too long was reported
    };

    std::unique_ptr<QTcpServer> makeServer() {
        auto server = std::make_unique<Listener>([this](int descriptor) { accept(descriptor); });
        server->setListenBacklogSize(kListenBacklog);
        return server;
    }

    void accept(int descriptor) {
        const quint64 source = ++m_lastSource;
        auto connection = std::make_unique<Connection>();
        connection->socket = std::make_unique<DeviceSocket>(descriptor, [this, source] { readFrom(source); });
        connection->origin = originOf(connection->socket->peerAddress());
        connection->prefix = kStx + connection->origin + kTab;
        connection->source = source;
        const QString origin = connection->origin;
        m_connections.emplace(source, std::move(connection));
        countConnections();
        // The connection starts waiting for its first line.
        m_origin.set(origin);
        readFrom(source);
    }

    // Takes the whole lines the system holds for this connection into the journal and the queue,
    // one read at a time, until none is left or the queue holds the device back. A device held
    // back (or a journal the disk refuses) is not read at all: its bytes stay with the system.
    void readFrom(quint64 source) {
        const auto found = m_connections.find(source);
        if (found == m_connections.end())
            return;
        Connection& connection = *found->second;
        for (;;) {
            if (connection.paused || m_queue.holdsBack(source)) {
                pause(connection);
                return;
            }
            const DeviceSocket::Taken taken = connection.socket->take(m_scratch.data(), m_scratch.size());
            if (taken.ended) {
                end(source);
                return;
            }
            if (taken.size == 0)
                return;
            const qint64 read = taken.size;
            std::vector<QString> lines;
            const auto result =
                connection.splitter.feed(QByteArrayView(m_scratch.data(), read), [&](QByteArrayView line) {
                    lines.push_back(itemOf(connection, line));
                });
            if (result == LineSplitter::Result::LineCut && !std::exchange(connection.cutTold, true) &&
                m_report)
                m_report(
                    u"La c\u00e1mara %1 envi\u00f3 una l\u00ednea de m\u00e1s de %2 bytes: se guardan sus "
                    u"primeros %2 bytes y el resto de la l\u00ednea se descarta"_s.arg(
                        connection.origin, QString::number(LineSplitter::kMaxLineBytes)));
            enqueue(connection, std::move(lines));
        }
    }

    static void pause(Connection& connection) {
        connection.paused = true;
        connection.socket->setReading(false);
    }

    static QString itemOf(const Connection& connection, QByteArrayView line) {
        const qsizetype prefixSize = connection.prefix.size();
        QString item(prefixSize + line.size() + 1, Qt::Uninitialized);
        QChar* out = item.data();
        std::copy_n(connection.prefix.constData(), prefixSize, out);
        LineSplitter::decodeInto(out + prefixSize, line);
        out[prefixSize + line.size()] = kLf;
        return item;
    }

    // The complete lines of one read, in one batch: one journal write per read, not per line.
    void enqueue(Connection& connection, std::vector<QString> lines) {
        if (lines.empty())
            return;
        if (m_queue.appendBatch(std::move(lines), connection.source))
            connection.paused = true;
        // The connection waits for its next line.
        m_origin.set(connection.origin);
    }

    // The device hung up and every whole line it sent was taken (a device held back is not read,
    // so its lines are taken once the pause ends).
    void end(quint64 source) {
        const auto found = m_connections.find(source);
        if (found == m_connections.end())
            return;
        std::shared_ptr<DeviceSocket> owned = std::move(found->second->socket);
        m_connections.erase(found);
        countConnections();
        owned->setReading(false);
        // We may be inside its notifier's signal.
        QMetaObject::invokeMethod(
            this, [owned] {}, Qt::QueuedConnection);
    }

    void countConnections() { m_connectionCount.store(qsizetype(m_connections.size())); }

    // Every device the queue lets go reads on; one still held, or all while the journal is
    // blocked, waits for a later drain.
    void resume() {

        std::vector<quint64> released;
        for (const auto& [source, connection] : m_connections) {
            if (connection->paused && !m_queue.holdsBack(source)) {
                connection->paused = false;
                connection->socket->setReading(true);
                released.push_back(source);
            }
        }
        for (const quint64 source : released)
            readFrom(source);
    }

    IntakeQueue& m_queue;
    OriginTag& m_origin;
    std::unique_ptr<QTcpServer> m_v4;
    std::unique_ptr<QTcpServer> m_v6;
    std::unordered_map<quint64, std::unique_ptr<Connection>> m_connections; // by source
    std::atomic<qsizetype> m_connectionCount = 0;
    QByteArray m_scratch;
    quint64 m_lastSource = 0;
    std::function<void(const QString&)> m_report;
};

NetworkIntake::NetworkIntake(IntakeQueue& queue, OriginTag& origin)
    : m_io(std::make_unique<Io>(queue, origin)) {
    m_thread.setObjectName(u"NetworkIntake"_s);
    m_io->moveToThread(&m_thread);
    m_thread.start();
}

NetworkIntake::~NetworkIntake() {
    QMetaObject::invokeMethod(
        m_io.get(), [this] { m_io->closeAll(); }, Qt::BlockingQueuedConnection);
    // The I/O objects go on their own thread: a finishing thread deletes what was left to it.
    m_io.release()->deleteLater();
    m_thread.quit();
    m_thread.wait();
}

void NetworkIntake::setProblemReport(std::function<void(const QString&)> report) {
    QMetaObject::invokeMethod(
        m_io.get(), [this, &report] { m_io->setReport(std::move(report)); }, Qt::BlockingQueuedConnection);
}

void NetworkIntake::start(quint16 port) {
    if (m_active)
        return;
    std::optional<quint16> bound;
    QMetaObject::invokeMethod(
        m_io.get(), [this, port, &bound] { bound = m_io->listen(port); }, Qt::BlockingQueuedConnection);
    if (!bound)
        throw StationError(u"Could not bind socket. Address and port are already in use."_s);
    m_active = true;
    m_port = *bound;
}

void NetworkIntake::stop() {
    if (!m_active)
        return;
    QMetaObject::invokeMethod(
        m_io.get(), [this] { m_io->closeAll(); }, Qt::BlockingQueuedConnection);
    m_active = false;
}

qsizetype NetworkIntake::connectionCount() const {
    return m_io->connectionCount();
}

} // namespace station
