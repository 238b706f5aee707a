#pragma once

#include "config/SerialPortSettings.h"
#include "station/ComPort.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace base {
class Clock;
class ErrorReport;
} // namespace base

namespace station {

class LivePanel;
class OriginTag;
class RawLog;
class TickTimer;

// The serial line: the port `ApdComPort1` and what the station makes of its bytes. Every carriage
// return or line feed completes a line, which goes to `logRS232`, the status bar and
// `buffer_trama`, makes "232" the current origin and calls the periodic raw-log save. Serial lines
// are not queued for the record processor. Lives on the core's thread, as the port's notifications
// do.
//
// A port that fails while open, or that the station's start cannot open, is reported once and
// opened again every `reopenInterval` until it opens or the station closes it.
class SerialIntake final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SerialIntake)

public:
    struct Parts {
        const config::SerialPortSettings& settings;
        LivePanel& panel;
        OriginTag& origen_actual;
        RawLog& logRS232;
        TickTimer& Timer1;
        QString& buffer_trama;
        const base::Clock& clock;
        base::ErrorReport& errors;
        // `grabar_logs`, the periodic save with its interval test, after every completed line.
        std::function<void()> grabar_logs;
    };

    static constexpr QStringView kOrigin = u"232";
    static constexpr QStringView kClosedText = u"Puerto com Cerrado";
    // A device that never ends its line has it completed here; nothing it sent is lost.
    static constexpr qsizetype kLongestLine = 16384;
    static constexpr std::chrono::milliseconds kReopenInterval{5000};

    explicit SerialIntake(Parts parts, QLocale locale = QLocale::system(),
                          std::chrono::milliseconds reopenInterval = kReopenInterval,
                          QObject* parent = nullptr);

    // "Iniciar": opens the port and says so in `Label51`. Raises StationError when it cannot be
    // opened; `Label51` then keeps its text.
    void start();
    // The station's start: as start(), but a port that cannot be opened is reported instead, and a
    // device that may still come (missing, in use, no line yet) is tried again every
    // `reopenInterval`. Settings no port takes are only reported; no port selected is no fault.
    void startOrKeepTrying();
    // "Parar": closes the port and says so in `Label51`.
    void stop();
    // Closes the port and gives up any attempt to open it again.
    void close();
    bool isOpen() const { return m_port.isOpen(); }
    // Whether a port that failed is waiting to be opened again.
    bool reopening() const { return m_reopen.isActive(); }
    // Sends the bytes as they are, opening the port first when it is closed.
    void send(const QByteArray& bytes);
    // After new settings: "ACK" goes out on the port, which opens with them, and `Label51` says
    // whether the port is open. Raises StationError when it cannot be opened.
    void acknowledge();

    // The data-available notification: takes `count` waiting bytes.
    void ApdComPort1TriggerAvail(int count);

    const QString& parcialSerial() const { return m_parcialSerial; }
    // Lines completed at kLongestLine in this run.
    int cutLines() const { return m_cutLines; }

    // What `Label51` says about an open port.
    static QString monitoringText(const config::SerialPortSettings& settings);
    // A moment in the locale's short date and long time, without a time zone; the time is left
    // out at exact midnight.
    static QString dateTimeText(const QDateTime& moment, const QLocale& locale);

private:
    void completeLine();
    void lost(const QString& message);
    void reopen();
    QString retryText() const;

    Parts m_parts;
    QLocale m_locale;
    ComPort m_port;
    QTimer m_reopen;
    QString m_parcialSerial;
    // A periodic save that failed inside the current notification, reported once at its end: a
    // missing base folder fails every line of a burst alike.
    QString m_saveFailure;
    int m_cutLines = 0;
};

} // namespace station
