#include "app/CoreStation.h"

#include "base/IntegerText.h"

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace app {

CoreStation::CoreStation(QString settingsFile, QObject* parent)
    : QObject(parent)
    , m_settings(this)
    , m_panel(this)
    , m_queue(station::IntakeQueue::kDefaultHighWaterMark, station::IntakeQueue::kDefaultHighWaterBytes, this)
    , m_errors(this)
    , m_logRS232(this)
    , m_logEthernet(this)
    , m_store(std::move(settingsFile))
    , m_formStorage(m_store, m_settings, m_panel, m_logEthernet, m_serialPort, m_errors)
    , m_rawLogFiles(m_logRS232, m_logEthernet, m_settings, m_panel, m_clock, m_contadorArchivo, m_errors,
                    this)
    , m_periodicLogSave(m_rawLogFiles)
    , m_rows(m_panel, m_executor, m_contadorArchivo, m_clock)
    // A refused row is told to the front ends.
    , m_rowTally(m_rows, [this] { Q_EMIT recordRefused(m_executor.lastFailure()); })
    , m_alerts(this)
    , m_alertReport(this)
    , m_editor(m_clock, QLocale::system(), this)
    , m_quality(m_panel, m_settings, m_editor, m_alertReport)
    , m_timer([this] { m_tick.Timer1Timer(); }, this)
    , m_processor(
          {m_panel, m_settings, m_timer, m_logRS232, m_rowTally, m_periodicLogSave, m_quality, m_clock})
    , m_tick(m_queue, m_panel, m_timer, m_processor, m_executor, m_errors, m_uncommittedFor)
    , m_serial(
          {m_serialPort, m_panel, m_origin, m_logRS232, m_timer, m_tick.bufferTrama(), m_clock, m_errors},
          QLocale::system(), station::SerialIntake::kReopenInterval, this)
    , m_server(m_queue, m_origin)
    , m_camaras(u"camaras.txc"_s)
    , m_nombreCamaras(u"NombreCamaras.txt"_s)
    , m_turno(u"turno.txt"_s)
    , m_closeWait(this) {
    // The window's creation: the database name still holds its built-in default here.
    m_executor.setDatabaseName(m_settings.text(SettingId::Eddb));

    connect(&m_alertReport, &alerts::AlertReport::noted, this,
            [this](bool sent, const QString& text) { m_alerts.note(m_clock.now(), sent, text); });
    m_closeWait.setSingleShot(true);
    connect(&m_editor, &alerts::MessageEditor::drained, this, [this] {
        if (m_closeWait.isActive()) {
            m_closeWait.stop();
            finishClose();
        }
    });
    connect(&m_closeWait, &QTimer::timeout, this, [this] {
        m_editor.abortAll(u"La estación se cerró antes de terminar el envío del correo"_s);
        finishClose();
    });
}

CoreStation::~CoreStation() = default;

void CoreStation::startUp(const station::ScreenLayout& screen) {
    // The tick runs from the window's creation; its first chance to fire is after this call.
    m_timer.setEnabled(true);
    Q_EMIT placementRestored(m_formStorage.restore(screen));
    Q_EMIT serialPortChanged(m_serialPort);
    m_quality.checkStoredTotals(m_errors);
    m_errors.guard([this] { formShow(); });
}

void CoreStation::formShow() {
    m_executor.setDatabaseName(m_settings.text(SettingId::Eddb));
    // The files win over the stored copies; one that exists but cannot be read ends the show
    // before the start, and the operator can press "Iniciar".
    if (std::optional<config::LineList> list = m_camaras.readIfExists())
        m_settings.setLines(SettingId::LogiPs, std::move(*list));
    if (std::optional<config::LineList> list = m_turno.readIfExists())
        m_settings.setLines(SettingId::Mturno, std::move(*list));
    if (std::optional<config::LineList> list = m_nombreCamaras.readIfExists())
        m_settings.setLines(SettingId::LogCamNombre, std::move(*list));
    start();
}

void CoreStation::start() {
    // The serial port comes first. One that cannot be opened (none selected, missing, in use)
    // leaves its status text as it was, and the network starts all the same.
    try {
        m_serial.start();
    } catch (const std::exception&) {
    }
    const qint32 port = base::toInteger(m_settings.text(SettingId::Edpuerto));
    m_server.start(static_cast<quint16>(port & 0xFFFF));
    m_panel.setText(Field::Label1, u"Orvane Monitoreando en puerto  :"_s + QString::number(m_server.port()));
}

void CoreStation::iniciar() {
    m_errors.guard([this] { start(); });
}

void CoreStation::parar() {
    m_errors.guard([this] {
        m_serial.stop();
        m_server.stop();
        m_panel.setText(Field::Label1, u"Orvane Detenido"_s);
    });
}

void CoreStation::guardar() {
    m_errors.guard([this] { m_rawLogFiles.Button3Click(); });
}

void CoreStation::reset() {
    m_panel.reset(Field::Lbuenos);
    m_panel.reset(Field::Lmalos);
    m_panel.setText(Field::Lcalidad, u"100"_s);
    m_panel.reset(Field::fem);
}

void CoreStation::conectar() {
    m_errors.guard([this] { m_executor.reconnect(m_settings.text(SettingId::Eddb)); });
}

void CoreStation::correo() {
    m_editor.testSend();
}

void CoreStation::setEditorState(const alerts::EditorState& state) {
    m_editor.setState(state);
}

MetricsValues CoreStation::metrics() const {
    const auto count = [this](Field field) { return m_panel.text(field).toULongLong(); };
    MetricsValues values;
    values.linesReceived = m_queue.appendedCount();
    values.rowsStored = m_rowTally.stored();
    values.rowsRefused = m_rowTally.refused();
    values.queueLength = m_queue.size();
    values.deviceConnections = m_server.connectionCount();
    // Shown with the system's decimal separator; "100" right after a reset.
    bool ok = false;
    const double quality = QString(m_panel.text(Field::Lcalidad)).replace(u',', u'.').toDouble(&ok);
    values.qualityPercent = ok ? quality : qQNaN();
    values.readsGood = count(Field::Lbuenos);
    values.readsBad = count(Field::Lmalos);
    values.alertsSent = m_alerts.sentCount();
    values.alertsFailed = m_alerts.failedCount();
    values.secondsSinceLastRow = m_rowTally.secondsSinceLastRow();
    values.databaseConnected = m_executor.isOpen();
    return values;
}

QString CoreStation::serveMetrics(const MetricsAddress& address) {
    auto endpoint = std::make_unique<MetricsEndpoint>([this] { return prometheusText(metrics()); });
    if (!endpoint->listen(address))
        return endpoint->errorString();
    m_metrics = std::move(endpoint);
    return {};
}

void CoreStation::setSetting(config::SettingId id, const QVariant& value) {
    m_errors.guard([&] { m_settings.setValue(id, value); });
}

void CoreStation::setSerialPort(const config::SerialPortSettings& chosen) {
    m_errors.guard([&] {
        m_serial.close();
        m_serialPort.ComNumber = chosen.ComNumber;
        m_serialPort.Baud = chosen.Baud;
        m_serialPort.DataBits = chosen.DataBits;
        m_serialPort.StopBits = chosen.StopBits;
        m_serialPort.parity = chosen.parity;
        Q_EMIT serialPortChanged(m_serialPort);
        m_serial.acknowledge();
    });
}

void CoreStation::close(const station::WindowPlacement& placement) {
    try {
        formClose();
    } catch (const std::exception& e) {
        m_formStorage.store(placement);
        const QString message = base::messageOf(e);
        m_errors.report(message);
        // The station may stay open for a long while, or be killed, before the operator tries
        // again: the rows stored so far must not wait for that.
        m_errors.guard([this] { m_executor.commit(); });
        Q_EMIT closeFailed(message);
        return;
    }
    // Stored after the save on close, which wrote the Ethernet log's lines to their file and
    // emptied the list: stored before it, the same lines would come back and be written again at
    // every close.
    m_formStorage.store(placement);
    if (!m_editor.idle()) {
        m_closeWait.start(m_closeMailWait);
        return;
    }
    finishClose();
}

void CoreStation::finishClose() {
    // Releasing the connection commits the rows stored since the tick's last commit.
    m_executor.release();
    // Its sockets belong to this thread, which ends after the close.
    m_metrics.reset();
    Q_EMIT closed();
}

void CoreStation::formClose() {
    // The serial port first: no serial line may arrive after the raw logs are written, nor switch
    // the tick back on while the close works the queue off.
    m_serial.close();
    m_timer.setEnabled(false);
    m_server.stop();
    // Nothing arrives any more: the lines still queued become rows (and serial log entries) now,
    // before the logs are written and the database is released, rather than being dropped.
    m_tick.drain();
    m_camaras.write(m_settings.lines(SettingId::LogiPs));
    m_nombreCamaras.write(m_settings.lines(SettingId::LogCamNombre));
    m_rawLogFiles.saveOnClose();
}

} // namespace app
