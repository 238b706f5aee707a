#pragma once

#include "config/SerialPortSettings.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace station {

// `ApdComPort1`: the serial port a reading device may be wired to. COMn is the device that the
// link `comn` in the settings folder's `dosdevices` names, as Wine lays it out, else /dev/ttyS(n-1).
//
// Opening reads the settings as they are at that moment. Received bytes are announced with
// `dataAvailable` on the thread the port lives on, and stay in the port until they are read. A
// device that goes away (an adapter pulled, a peer that hung up) closes the port and is announced
// once with `lost`: a port that keeps failing must not keep the thread busy.
class ComPort final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ComPort)

public:
    static constexpr qint64 kBufferSize = 4096;
    // The notification carries a 16-bit count.
    static constexpr int kLargestCount = 0xFFFF;

    // The settings must outlive the port.
    explicit ComPort(const config::SerialPortSettings& settings, QObject* parent = nullptr);
    ~ComPort() override;

    // The device that COMn stands for.
    static QString devicePath(int comNumber);
    // Why no port could ever open with these settings (a negative port number, a speed, data bits
    // or stop bits no line takes), in the operator's words; empty when they may be used. Port 0,
    // none, is a setting like any other.
    static QString settingsProblem(const config::SerialPortSettings& settings);

    // Opens COM`ComNumber` with the settings. An open port stays as it is. Raises StationError with
    // the operator's text when no port is selected, the settings are unusable, or the device is
    // missing, no serial line, in use, refused or does not take the settings; the port then stays
    // closed.
    void open();
    // Closing a closed port does nothing.
    void close();
    bool isOpen() const { return m_port.isOpen(); }

    // Sends the bytes as they are, opening the port first when it is closed.
    void send(const QByteArray& bytes);

    // Takes up to `count` waiting bytes.
    QByteArray read(int count);

Q_SIGNALS:
    // At least one byte is waiting; `count` of them, never more than kLargestCount.
    void dataAvailable(int count);
    // The device failed while open; the port is closed already.
    void lost(const QString& message);

private:
    void announceData();
    void failed(QSerialPort::SerialPortError error);

    const config::SerialPortSettings& m_settings;
    QSerialPort m_port;
    QString m_name; // "COMn" while open
    bool m_failing = false;
};

} // namespace station
