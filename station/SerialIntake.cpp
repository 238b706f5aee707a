#include "station/SerialIntake.h"

#include "base/Clock.h"
#include "base/CodePage.h"
#include "base/ErrorReport.h"
#include "station/LivePanel.h"
#include "station/OriginTag.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace station {

namespace {

constexpr QChar kStx{0x02};
constexpr QChar kEtx{0x03};

QString parityName(config::Parity parity) {
    switch (parity) {
    case config::Parity::Odd:
        return u"Impar"_s;
    case config::Parity::Even:
        return u"Par"_s;
    case config::Parity::Mark:
        return u"Marca"_s;
    case config::Parity::Space:
        return u"Espacio"_s;
    case config::Parity::None:
        break;
    }
    return u"Ninguna"_s;
}

// The locale's long time format carries the time zone; the status bar shows the wall clock only.
QString longTimeWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString time;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        time += c;
    }
    return time.remove(u"()"_s).trimmed();
}

} // namespace

SerialIntake::SerialIntake(Parts parts, QLocale locale, std::chrono::milliseconds reopenInterval,
                           QObject* parent)
    : QObject(parent)
    , m_parts(parts)
    , m_locale(std::move(locale))
    , m_port(parts.settings, this)
    , m_reopen(this) {
    m_reopen.setInterval(reopenInterval);
    // Whatever goes wrong inside a notification ends it and goes to the error report.
    connect(&m_port, &ComPort::dataAvailable, this,
            [this](int count) { m_parts.errors.guard([&] { ApdComPort1TriggerAvail(count); }); });
    connect(&m_port, &ComPort::lost, this, &SerialIntake::lost);
    connect(&m_reopen, &QTimer::timeout, this, &SerialIntake::reopen);
}

QString SerialIntake::monitoringText(const config::SerialPortSettings& s) {
    return u"Monitoreando en el puerto serial: COM"_s + QString::number(s.ComNumber) + u", Baudios: "_s +
           QString::number(s.Baud) + u", Data bits:"_s + QString::number(s.DataBits) + u", Paridad:"_s +
           parityName(s.parity) + u", Bits de Parada:"_s + QString::number(s.StopBits);
}

QString SerialIntake::dateTimeText(const QDateTime& moment, const QLocale& locale) {
    QString text = locale.toString(moment.date(), QLocale::ShortFormat);
    if (moment.time() != QTime(0, 0))
        text += u' ' + locale.toString(moment.time(), longTimeWithoutZone(locale));
    return text;
}

void SerialIntake::start() {
    m_port.open();
    m_reopen.stop();
    m_parts.panel.setText(Field::Label51, monitoringText(m_parts.settings));
}

void SerialIntake::startOrKeepTrying() {
    try {
        start();
    } catch (const std::exception& e) {
        if (m_parts.settings.ComNumber == 0)
            return;
        if (!ComPort::settingsProblem(m_parts.settings).isEmpty()) {
            m_parts.errors.report(base::messageOf(e));
            return;
        }
        m_parts.errors.report(base::messageOf(e) + retryText());
        m_reopen.start();
    }
}

QString SerialIntake::retryText() const {
    return u"; se intenta abrirlo de nuevo cada %1 s"_s.arg(QString::number(m_reopen.interval() / 1000.0));
}

void SerialIntake::stop() {
    close();
    m_parts.panel.setText(Field::Label51, kClosedText.toString());
}

void SerialIntake::close() {
    m_reopen.stop();
    m_port.close();
}

void SerialIntake::send(const QByteArray& bytes) {
    m_port.send(bytes);
}

void SerialIntake::acknowledge() {
    try {
        send("ACK"_ba);
    } catch (const std::exception&) {
        m_parts.panel.setText(Field::Label51, kClosedText.toString());
        throw;
    }
    m_parts.panel.setText(Field::Label51, monitoringText(m_parts.settings));
}

void SerialIntake::ApdComPort1TriggerAvail(int count) {
    m_parts.panel.setLit(Light::ASLStream, true);
    const QByteArray bytes = m_port.read(count);
    for (int i = 0; i < count; ++i) {
        // A byte that could not be read counts as a NUL.
        const auto b = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
        if (b == 10 || b == 13) {
            completeLine();
        } else if (b == 11 || b == 12 || (b >= 14 && b <= 31)) {
            continue;
        } else {
            m_parcialSerial.append(base::codepage::widen(b));
            if (m_parcialSerial.size() >= kLongestLine) {
                if (m_cutLines++ == 0)
                    m_parts.errors.report(
                        u"Una línea serial llegó a %1 caracteres sin fin de línea; se tomó como completa"_s
                            .arg(kLongestLine),
                        base::Priority::Warning);
                completeLine();
            }
        }
    }
    m_parts.panel.setLit(Light::ASLStream, false);
    if (!m_saveFailure.isEmpty())
        m_parts.errors.report(std::exchange(m_saveFailure, {}));
}

void SerialIntake::completeLine() {
    m_parts.buffer_trama = kStx + m_parcialSerial + kEtx;
    m_parts.origen_actual.set(kOrigin.toString());
    m_parts.panel.setStatus(2, dateTimeText(m_parts.clock.now(), m_locale) + m_parcialSerial);
    m_parts.logRS232.append(m_parcialSerial);
    m_parcialSerial.clear();
    m_parts.Timer1.setEnabled(true);
    // A failed save must not end the notification: the bytes after this line are read already.
    try {
        m_parts.grabar_logs();
    } catch (const std::exception& e) {
        m_saveFailure = base::messageOf(e);
    }
}

void SerialIntake::lost(const QString& message) {
    m_parts.panel.setText(Field::Label51, kClosedText.toString());
    m_parts.errors.report(message);
    m_reopen.start();
}

void SerialIntake::reopen() {
    try {
        start();
    } catch (const std::exception&) {
        // Still gone; the next attempt follows.
        return;
    }
    // Its loss was reported: so is its return.
    m_parts.errors.report(
        u"El puerto serial COM%1 se abri\u00f3 al reintentar"_s.arg(m_parts.settings.ComNumber),
        base::Priority::Notice);
}

} // namespace station
