#pragma once

#include "tools/ReadingGenerator.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

namespace tools {

// A simulated reading device wired to a serial line: sends its lines, LF-ended, to a serial device
// node (a real port, or one end of a pseudo-terminal pair whose other end the station opens).
class SerialDevice final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SerialDevice)

public:
    struct Options {
        QString path;
        qint32 baud = 19200;
        quint64 lines = 100;       // 0: no end
        double linesPerSecond = 1; // 0: as fast as the line takes them
        quint32 seed = 1;
        FailureRates failures;
    };

    explicit SerialDevice(Options options, QObject* parent = nullptr);
    ~SerialDevice() override;

    // Opens the node and starts sending; false (see errorString) when it cannot be opened.
    bool start();
    // Ends after the line it is on; then `finished`.
    void stop();

    const SentCounts& counts() const { return m_generator.counts(); }
    QString errorString() const { return m_port.errorString(); }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

Q_SIGNALS:
    void finished();

private:
    bool done() const;
    void sendLine();
    void topUp();
    void finishWhenSent();

    Options m_options;
    QSerialPort m_port;
    ReadingGenerator m_generator;
    QTimer m_pace;
    QElapsedTimer m_clock;
    bool m_stopping = false;
    bool m_finished = false;
};

} // namespace tools
