#include "tools/SerialDevice.h"

#include <algorithm>

namespace tools {

namespace {
// What the device keeps queued on the line before it waits for it to drain.
constexpr qint64 kWriteAhead = 4096;
} // namespace

SerialDevice::SerialDevice(Options options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_port(this)
    , m_generator(m_options.seed, 1, m_options.failures)
    , m_pace(this) {
    connect(&m_pace, &QTimer::timeout, this, &SerialDevice::sendLine);
    connect(&m_port, &QSerialPort::bytesWritten, this, [this] {
        if (m_options.linesPerSecond <= 0)
            topUp();
        finishWhenSent();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // The station's end went away: nothing more can be sent.
        if (error == QSerialPort::WriteError || error == QSerialPort::ResourceError) {
            m_stopping = true;
            m_port.clear();
            finishWhenSent();
        }
    });
}

SerialDevice::~SerialDevice() = default;

bool SerialDevice::start() {
    m_port.setPortName(m_options.path);
    m_port.setBaudRate(m_options.baud);
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_clock.start();
    if (m_options.linesPerSecond > 0) {
        m_pace.setTimerType(Qt::PreciseTimer);
        m_pace.setInterval(std::max(1, qRound(1000 / m_options.linesPerSecond)));
        m_pace.start();
        sendLine();
    } else {
        topUp();
    }
    return true;
}

void SerialDevice::stop() {
    m_stopping = true;
    m_pace.stop();
    finishWhenSent();
}

bool SerialDevice::done() const {
    return m_stopping || (m_options.lines > 0 && m_generator.counts().lines >= m_options.lines);
}

void SerialDevice::sendLine() {
    if (done()) {
        m_pace.stop();
        finishWhenSent();
        return;
    }
    m_port.write(m_generator.next());
}

void SerialDevice::topUp() {
    while (!done() && m_port.bytesToWrite() < kWriteAhead)
        m_port.write(m_generator.next());
    finishWhenSent();
}

void SerialDevice::finishWhenSent() {
    if (m_finished || !done() || (m_port.isOpen() && m_port.bytesToWrite() > 0))
        return;
    m_finished = true;
    m_pace.stop();
    Q_EMIT finished();
}

} // namespace tools
