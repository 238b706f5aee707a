#include "station/ComPort.h"

#include "config/SettingsStore.h"
#include "station/StationError.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace station {

namespace {

QSerialPort::Parity parityOf(config::Parity parity) {
    switch (parity) {
    case config::Parity::Odd:
        return QSerialPort::OddParity;
    case config::Parity::Even:
        return QSerialPort::EvenParity;
    case config::Parity::Mark:
        return QSerialPort::MarkParity;
    case config::Parity::Space:
        return QSerialPort::SpaceParity;
    case config::Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

// The port knows RTS/CTS and XON/XOFF only. RTS used for flow control, or CTS required, is the
// hardware handshake; any software option is XON/XOFF both ways.
QSerialPort::FlowControl flowOf(const config::SerialPortSettings& s) {
    if (s.HWFlowOptions.useRTS || s.HWFlowOptions.requireCTS)
        return QSerialPort::HardwareControl;
    if (s.SWFlowOptions != config::SoftwareFlow::None)
        return QSerialPort::SoftwareControl;
    return QSerialPort::NoFlowControl;
}

QString notSerial(const QString& name, const QString& path) {
    return u"El puerto serial %1 (%2) no es un dispositivo serial"_s.arg(name, path);
}

} // namespace

ComPort::ComPort(const config::SerialPortSettings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_port(this) {
    connect(&m_port, &QSerialPort::readyRead, this, &ComPort::announceData);
    connect(&m_port, &QSerialPort::errorOccurred, this, &ComPort::failed);
}

ComPort::~ComPort() {
    close();
}

QString ComPort::devicePath(int comNumber) {
    const QString folder = QFileInfo(config::SettingsStore::defaultFilePath()).path();
    const QString link = u"%1/dosdevices/com%2"_s.arg(folder).arg(comNumber);
    // A link that points nowhere still names the port: it is missing, not somewhere else.
    const QFileInfo info(link);
    if (info.isSymLink() || info.exists())
        return link;
    return u"/dev/ttyS%1"_s.arg(comNumber - 1);
}

QString ComPort::settingsProblem(const config::SerialPortSettings& s) {
    const QString name = u"COM"_s + QString::number(s.ComNumber);
    if (s.ComNumber < 0)
        return u"No existe el puerto serial %1: los puertos se numeran desde 1 (0 es ninguno)"_s.arg(name);
    if (s.Baud <= 0)
        return u"El puerto serial %1 no acepta Baudios: %2"_s.arg(name).arg(s.Baud);
    if (s.DataBits < 5 || s.DataBits > 8)
        return u"El puerto serial %1 no acepta Data bits: %2"_s.arg(name).arg(s.DataBits);
    if (s.StopBits < 0 || s.StopBits > 2)
        return u"El puerto serial %1 no acepta Bits de Parada: %2"_s.arg(name).arg(s.StopBits);
    return {};
}

void ComPort::open() {
    if (m_port.isOpen())
        return;
    const config::SerialPortSettings s = m_settings;
    const QString name = u"COM"_s + QString::number(s.ComNumber);
    if (s.ComNumber == 0)
        throw StationError(u"No hay puerto serial seleccionado (%1)"_s.arg(name));
    if (const QString problem = settingsProblem(s); !problem.isEmpty())
        throw StationError(problem);
    const QString path = devicePath(s.ComNumber);
    const QString device = QFileInfo(path).canonicalFilePath();
    if (device.isEmpty())
        throw StationError(u"No existe el puerto serial %1 (%2)"_s.arg(name, path));
    // Only a character device can be a line: a file, a folder or a named pipe in its place is said
    // as such and never opened.
    struct stat node {};
    if (::stat(QFile::encodeName(device).constData(), &node) != 0 || !S_ISCHR(node.st_mode))
        throw StationError(notSerial(name, path));

    m_port.setPortName(device);
    m_port.setBaudRate(s.Baud);
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(s.DataBits));
    m_port.setParity(parityOf(s.parity));
    m_port.setStopBits(s.StopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    m_port.setFlowControl(flowOf(s));
    m_port.setReadBufferSize(kBufferSize);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        const QString why = m_port.errorString();
        m_port.clearError();
        if (error == QSerialPort::DeviceNotFoundError)
            throw StationError(u"No existe el puerto serial %1 (%2)"_s.arg(name, path));
        // A character device that is no terminal (/dev/null) refuses the line settings.
        if (error == QSerialPort::UnsupportedOperationError)
            throw StationError(notSerial(name, path));
        if (error == QSerialPort::PermissionError) {
            // The port reports a refusal and a device held by another program alike.
            if (::access(device.toLocal8Bit().constData(), R_OK | W_OK) != 0)
                throw StationError(u"Sin permiso para abrir el puerto serial %1 (%2)"_s.arg(name, path));
            throw StationError(u"El puerto serial %1 está en uso (%2)"_s.arg(name, path));
        }
        throw StationError(u"No se pudo abrir el puerto serial %1 (%2): %3"_s.arg(name, path, why));
    }
    m_name = name;
    // A line without modem signals (a pseudo-terminal, some adapters) works without them; with the
    // hardware handshake RTS belongs to the flow control.
    m_port.setDataTerminalReady(true);
    if (m_port.flowControl() != QSerialPort::HardwareControl)
        m_port.setRequestToSend(true);
    m_port.clearError();
}

void ComPort::close() {
    m_failing = false;
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

void ComPort::send(const QByteArray& bytes) {
    open();
    if (m_port.write(bytes) != bytes.size())
        throw StationError(
            u"No se pudo enviar por el puerto serial %1: %2"_s.arg(m_name, m_port.errorString()));
}

QByteArray ComPort::read(int count) {
    return m_port.read(count);
}

void ComPort::announceData() {
    qint64 waiting = m_port.bytesAvailable();
    while (waiting > 0 && m_port.isOpen()) {
        Q_EMIT dataAvailable(static_cast<int>(std::min<qint64>(waiting, kLargestCount)));
        const qint64 left = m_port.isOpen() ? m_port.bytesAvailable() : 0;
        if (left >= waiting)
            break; // nothing taken: asked again at the next arrival
        waiting = left;
    }
}

void ComPort::failed(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!m_port.isOpen() || m_failing)
        return;
    m_failing = true;
    const QString message =
        u"El puerto serial %1 dejó de responder y se cerró: %2"_s.arg(m_name, m_port.errorString());
    // The port is still inside the notification that failed; it is closed once that has returned,
    // unless it was closed (and perhaps opened again) in the meantime.
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            if (!m_failing)
                return;
            close();
            Q_EMIT lost(message);
        },
        Qt::QueuedConnection);
}

} // namespace station
