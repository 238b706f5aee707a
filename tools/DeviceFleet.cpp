#include "tools/DeviceFleet.h"

#include <QTcpSocket>

namespace tools {

namespace {
// What a device keeps queued on its socket before it waits for the station to take it.
constexpr qint64 kWriteAhead = 64 * 1024;
constexpr int kPaceIntervalMs = 10;
} // namespace

struct DeviceFleet::Device {
    Device(quint32 seed, int number, FailureRates rates, qsizetype extraBytes)
        : generator(seed, number, rates, extraBytes) {}

    ReadingGenerator generator;
    std::unique_ptr<QTcpSocket> socket;
    bool connected = false;
    bool done = false;  // no more lines to send
    bool ended = false; // connection gone
};

DeviceFleet::DeviceFleet(Options options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    // Children, so that they follow the fleet to another thread.
    m_pace.setParent(this);
    m_connect.setParent(this);
    m_pace.setInterval(kPaceIntervalMs);
    connect(&m_pace, &QTimer::timeout, this, &DeviceFleet::paceTick);
    m_connect.setInterval(m_options.connectIntervalMs);
    connect(&m_connect, &QTimer::timeout, this, &DeviceFleet::connectNext);
}

DeviceFleet::~DeviceFleet() = default;

void DeviceFleet::start() {
    m_clock.start();
    for (int i = 0; i < m_options.devices; ++i) {
        auto device = std::make_unique<Device>(m_options.seed, i, m_options.failures, m_options.extraBytes);
        device->socket = std::make_unique<QTcpSocket>();
        QTcpSocket* socket = device->socket.get();
        Device* d = device.get();
        if (m_options.spreadLoopback)
            socket->bind(QHostAddress(quint32((127u << 24) | quint32(i % 254 + 1))), 0);
        connect(socket, &QTcpSocket::connected, this, [this, d] {
            d->connected = true;
            if (m_options.linesPerSecond <= 0)
                topUp(*d);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, d] {
            if (m_options.linesPerSecond <= 0)
                topUp(*d);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, d] {
            if (!d->done)
                ++m_lostConnections;
            ended(*d);
        });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, d] {
            if (!d->connected) {
                ++m_failedConnections;
                ended(*d);
            }
        });
        m_devices.push_back(std::move(device));
        ++m_running;
    }
    if (m_options.linesPerSecond > 0)
        m_pace.start();
    if (m_running == 0) {
        Q_EMIT finished();
        return;
    }
    connectNext();
    if (m_options.connectIntervalMs > 0)
        m_connect.start();
    else
        while (m_nextToConnect < m_devices.size())
            connectNext();
}

void DeviceFleet::connectNext() {
    if (m_nextToConnect >= m_devices.size() || m_stopping) {
        m_connect.stop();
        return;
    }
    Device& device = *m_devices[m_nextToConnect++];
    device.socket->connectToHost(m_options.host, m_options.port);
}

void DeviceFleet::stop() {
    m_stopping = true;
    m_pace.stop();
    m_connect.stop();
    for (auto& device : m_devices) {
        device->done = true;
        if (device->ended)
            continue;
        if (device->socket->state() != QAbstractSocket::UnconnectedState && device->connected) {
            device->socket->disconnectFromHost(); // after what is queued went out
        } else {
            device->socket->abort();
            ended(*device);
        }
    }
}

void DeviceFleet::topUp(Device& device) {
    if (device.done)
        return;
    QTcpSocket& socket = *device.socket;
    const quint64 limit = m_options.linesPerDevice;
    while (socket.bytesToWrite() < kWriteAhead) {
        QByteArray batch;
        batch.reserve(16 * 1024);
        while (batch.size() < 16 * 1024 && (limit == 0 || device.generator.counts().lines < limit))
            batch += device.generator.next();
        if (!batch.isEmpty())
            socket.write(batch);
        if (limit != 0 && device.generator.counts().lines >= limit) {
            device.done = true;
            socket.disconnectFromHost();
            return;
        }
    }
}

void DeviceFleet::paceTick() {
    const double seconds = m_clock.elapsed() / 1000.0;
    const auto due = quint64(seconds * m_options.linesPerSecond);
    const quint64 limit = m_options.linesPerDevice;
    for (auto& device : m_devices) {
        if (!device->connected || device->done)
            continue;
        QTcpSocket& socket = *device->socket;
        QByteArray batch;
        while (device->generator.counts().lines < due &&
               (limit == 0 || device->generator.counts().lines < limit) &&
               socket.bytesToWrite() + batch.size() < 16 * kWriteAhead)
            batch += device->generator.next();
        if (!batch.isEmpty())
            socket.write(batch);
        if (limit != 0 && device->generator.counts().lines >= limit) {
            device->done = true;
            socket.disconnectFromHost();
        }
    }
}

void DeviceFleet::ended(Device& device) {
    if (device.ended)
        return;
    device.ended = true;
    device.done = true;
    if (--m_running == 0) {
        m_pace.stop();
        Q_EMIT finished();
    }
}

SentCounts DeviceFleet::totals() const {
    SentCounts sum;
    for (const auto& device : m_devices)
        sum += device->generator.counts();
    return sum;
}

std::vector<SentCounts> DeviceFleet::perDevice() const {
    std::vector<SentCounts> counts;
    for (const auto& device : m_devices)
        counts.push_back(device->generator.counts());
    return counts;
}

} // namespace tools
