#pragma once

#include "tools/ReadingGenerator.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class QTcpSocket;

namespace tools {

// A number of simulated reading devices, each on a connection of its own, sending their lines to
// a station. Event-driven on the thread the fleet lives on.
class DeviceFleet final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeviceFleet)

public:
    struct Options {
        QHostAddress host = QHostAddress::LocalHost;
        quint16 port = 5010;
        int devices = 1;
        quint64 linesPerDevice = 100; // 0: no end
        double linesPerSecond = 0;    // per device; 0: as fast as the station takes them
        quint32 seed = 1;
        FailureRates failures;
        qsizetype extraBytes = 0; // added to every line
        // Device i connects from 127.0.0.(i % 254 + 1), so the station sees as many origins
        // (Linux answers on the whole of 127.0.0.0/8).
        bool spreadLoopback = false;
        // Devices connect one after another at this interval, as they do when a line starts up;
        // 0 connects them all at once. A listener whose backlog a burst overflows leaves devices
        // that believe they are connected while it never saw them.
        int connectIntervalMs = 2;
    };

    explicit DeviceFleet(Options options, QObject* parent = nullptr);
    ~DeviceFleet() override;

    void start();
    // Devices end after the line they are on; then `finished`.
    void stop();

    SentCounts totals() const;
    std::vector<SentCounts> perDevice() const;
    int failedConnections() const { return m_failedConnections; }
    // Connections that ended before their device had sent all its lines.
    int lostConnections() const { return m_lostConnections; }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

Q_SIGNALS:
    void finished();

private:
    struct Device;

    void topUp(Device& device);
    void paceTick();
    void ended(Device& device);
    void connectNext();

    Options m_options;
    std::vector<std::unique_ptr<Device>> m_devices;
    QTimer m_pace;
    QTimer m_connect;
    std::size_t m_nextToConnect = 0;
    QElapsedTimer m_clock;
    int m_running = 0;
    int m_failedConnections = 0;
    int m_lostConnections = 0;
    bool m_stopping = false;
};

} // namespace tools
