#include "app/CoreStation.h"

#include "base/IntegerText.h"
#include "base/JournalFile.h"

#include <QDir>

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace app {

namespace {

// The journals live in the working folder and nowhere else. One that cannot be opened there leaves
// the station taking no line or row it could not keep (the devices are held back, as on a full
// disk) until it can; the operator is told.
std::shared_ptr<storage::RowOutbox> openOutbox(QStringList& problems) {
    // Not opened: told by the watch on the disk, with the devices held back.
    auto outbox = std::make_shared<storage::RowOutbox>(storage::RowOutbox::kFileName.toString());
    // Earlier versions put the rows in a file of the temporary folder, named after the working
    // folder, when this one could not be opened: they are sent now.
    const QString spare = QDir::temp().filePath(u"orvanedb-%1-%2"_s.arg(
        QString::number(base::crc32c(QDir::currentPath().toUtf8()), 16), storage::RowOutbox::kFileName));
    try {
        if (const qint64 rows = outbox->adopt(spare))
            problems << u"Se encontraron %1 filas en espera en \"%2\", de una ejecuci\u00f3n anterior; se "
                        u"env\u00edan ahora"_s.arg(rows)
                            .arg(spare);
    } catch (const std::exception& e) {
        problems << base::messageOf(e) + u"; sus filas se env\u00edan en el pr\u00f3ximo inicio"_s;
    }
    return outbox;
}

std::unique_ptr<station::IntakeJournal> openIntakeJournal() {
    return std::make_unique<station::IntakeJournal>(station::IntakeJournal::kFileName.toString());
}

// A refused row as the operator saw its record.
QString describe(const storage::PendingRow& row) {
    QStringList parts{row.processedAt.date.toString(u"dd/MM/yyyy") + u' ' +
                      row.processedAt.time.toString(u"HH:mm:ss")};
    for (const storage::StatementValue& v : row.values) {
        if (const auto* text = std::get_if<QString>(&v))
            parts << *text;
        else if (const auto* number = std::get_if<double>(&v))
            parts << QString::number(*number);
    }
    return parts.join(u' ');
}

} // namespace

CoreStation::CoreStation(QString settingsFile, QObject* parent)
    : QObject(parent)
    , m_settings(this)
    , m_panel(this)
    , m_panelRelay(m_panel, this)
    , m_queue(station::IntakeQueue::kDefaultHighWaterMark, station::IntakeQueue::kDefaultHighWaterBytes, this)
    , m_errors(this)
    , m_logRS232(this)
    , m_logEthernet(this)
    , m_store(std::move(settingsFile))
    , m_formStorage(m_store, m_settings, m_panel, m_logEthernet, m_serialPort, m_errors)
    , m_rawLogFiles(m_logRS232, m_logEthernet, m_settings, m_panel, m_clock, m_contadorArchivo, m_errors,
                    this)
    , m_periodicLogSave(m_rawLogFiles)
    , m_intakeJournal(openIntakeJournal())
    , m_outbox(openOutbox(m_startProblems))
    , m_writer(m_outbox, this)
    , m_groupCommit(*m_outbox, m_intakeJournal.get(), m_queue)
    , m_writerTransaction(m_writer, *m_outbox)
    , m_rows(
          m_panel, *m_outbox, m_writer, [this] { return m_tick.lineId(); }, m_contadorArchivo, m_clock)
    , m_backlog(
          [this] {
              return OutboxProgress{m_outbox->pendingCount(), m_outbox->confirmedPosition(),
                                    m_outbox->endPosition()};
          },
          m_clock, this)
    , m_alerts(this)
    , m_alertReport(this)
    , m_editor(m_clock, QLocale::system(), this)
    , m_quality(m_panel, m_settings, m_editor, m_alertReport)
    , m_timer([this] { m_tick.Timer1Timer(); }, this)
    , m_processor({m_panel, m_settings, m_timer, m_logRS232, m_rows, m_periodicLogSave, m_quality, m_clock})
    , m_tick(m_queue, m_panel, m_timer, m_processor, m_writerTransaction, m_errors, m_uncommittedFor)
    , m_serial({m_serialPort, m_panel, m_origin, m_logRS232, m_timer, m_tick.bufferTrama(), m_clock, m_errors,
                [this] { m_rawLogFiles.grabar_logs(); }},
               QLocale::system(), station::SerialIntake::kReopenInterval, this)
    , m_server(m_queue, m_origin)
    , m_camaras(u"camaras.txc"_s)
    , m_nombreCamaras(u"NombreCamaras.txt"_s)
    , m_turno(u"turno.txt"_s)
    , m_closeWait(this)
    , m_diskWatch(this) {
    m_queue.setJournal(m_intakeJournal.get());
    if (!m_outbox->damage().isEmpty())
        m_startProblems << m_outbox->damage();
    // The window's creation: the database name still holds its built-in default here.
    m_writer.setDatabaseName(m_settings.text(SettingId::Eddb));
    connect(&m_writer, &storage::RowWriter::rowsStored, this,
            [this](qint64 stored, qint64 alreadyThere) { m_rowTally.noteStored(stored, alreadyThere); });
    connect(&m_writer, &storage::RowWriter::rowRefused, this,
            [this](const storage::PendingRow& row, const QString& statement, const QString& error) {
                m_rowTally.noteRefused();
                Q_EMIT recordRefused(describe(row), error);
                m_errors.guard([&] { m_rows.refused(statement, error); });
            });
    connect(&m_writer, &storage::RowWriter::connectionLost, &m_backlog, &DatabaseBacklog::connectionLost);
    connect(&m_writer, &storage::RowWriter::connectionBack, &m_backlog, &DatabaseBacklog::connectionBack);
    connect(&m_writer, &storage::RowWriter::databaseCreated, &m_backlog, &DatabaseBacklog::databaseCreated);
    connect(&m_writer, &storage::RowWriter::outboxFailed, this, [this](const QString& error) {
        if (error != std::exchange(m_lastOutboxFailure, error))
            m_errors.report(error);
    });
    connect(&m_writer, &storage::RowWriter::identityUnavailable, this, [this](const QString& error) {
        m_errors.report(
            u"La tabla paquetes no tiene id_lectura y no se le pudo agregar (%1); una fila que se "
            u"reenv\u00ede tras perder la conexi\u00f3n podr\u00eda guardarse dos veces"_s.arg(error),
            base::Priority::Warning);
    });

    // An idle tick sleeps; the first line to arrive wakes it.
    connect(&m_queue, &station::IntakeQueue::linesWaiting, &m_timer, &station::QtTickTimer::wake,
            Qt::QueuedConnection);
    // Told on the intake's thread; the report belongs to this one. A device's fault the intake works
    // around (a line cut at its bound) is a warning.
    m_server.setProblemReport([this](const QString& problem) {
        QMetaObject::invokeMethod(
            this, [this, problem] { m_errors.report(problem, base::Priority::Warning); },
            Qt::QueuedConnection);
    });

    connect(&m_alertReport, &alerts::AlertReport::noted, this,
            [this](bool sent, const QString& text) { m_alerts.note(m_clock.now(), sent, text); });
    m_closeWait.setSingleShot(true);
    connect(&m_editor, &alerts::MessageEditor::drained, this, [this] {
        if (m_closeWait.isActive()) {
            m_closeWait.stop();
            finishClose();
        }
    });
    connect(&m_diskWatch, &QTimer::timeout, this, &CoreStation::watchDisk);
    connect(&m_closeWait, &QTimer::timeout, this, [this] {
        m_editor.abortAll(u"La estación se cerró antes de terminar el envío del correo"_s);
        finishClose();
    });
}

CoreStation::~CoreStation() = default;

void CoreStation::startUp(const station::ScreenLayout& screen) {
    // Lines an earlier run read and never worked come first, in their order, before the station
    // listens again.
    if (m_intakeJournal) {
        try {
            station::IntakeJournal::Recovered recovered = m_intakeJournal->recover();
            if (!recovered.damage.isEmpty())
                m_startProblems << recovered.damage;
            m_queue.restore(std::move(recovered.lines));
        } catch (const std::exception& e) {
            m_startProblems << base::messageOf(e);
        }
    }
    for (const QString& problem : std::exchange(m_startProblems, {}))
        m_errors.report(problem);
    m_diskWatch.start(1000);
    // The tick runs from the window's creation; its first chance to fire is after this call.
    m_timer.setEnabled(true);
    Q_EMIT placementRestored(m_formStorage.restore(screen));
    Q_EMIT serialPortChanged(m_serialPort);
    m_quality.checkStoredTotals(m_errors);
    m_errors.guard([this] { formShow(); });
    // Only once the stored database name is in place: rows an earlier run left in the outbox
    // would otherwise go to the built-in default. They go first, before any new row.
    m_writer.start();
}

void CoreStation::formShow() {
    m_writer.setDatabaseName(m_settings.text(SettingId::Eddb));
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
    // The serial port comes first. One that cannot be opened leaves its status text as it was, is
    // reported (unless none is selected) and tried again while it may still come; the network
    // starts all the same.
    m_serial.startOrKeepTrying();
    const qint32 port = base::toInteger(m_settings.text(SettingId::Edpuerto));
    m_server.start(static_cast<quint16>(port & 0xFFFF));
    m_panel.setText(Field::Label1, u"Orvane Monitoreando en puerto  :"_s + QString::number(m_server.port()));
    Q_EMIT listeningStarted();
}

void CoreStation::watchDisk() {
    // A journal removed or replaced while the station is idle is noticed here, within a second.
    m_outbox->checkFile();
    for (const QString& notice : m_outbox->takeNotices())
        m_errors.report(notice);
    if (m_intakeJournal) {
        m_intakeJournal->checkFile();
        for (const QString& notice : m_intakeJournal->takeNotices())
            m_errors.report(notice);
    }
    QString refusal;
    if (m_outbox->blocked())
        refusal = m_outbox->blockedReason();
    else if (m_intakeJournal && m_intakeJournal->blocked())
        refusal = m_intakeJournal->blockedReason();
    if (refusal.isEmpty() == !m_diskRefused)
        return;
    m_diskRefused = !refusal.isEmpty();
    if (m_diskRefused)
        m_errors.report(refusal + u"; la lectura de las c\u00e1maras se detiene hasta que se pueda escribir "
                                  u"en el disco, y nada de lo le\u00eddo se pierde"_s);
    else
        m_errors.report(u"Hay espacio en el disco otra vez; la lectura de las c\u00e1maras sigue"_s,
                        base::Priority::Notice);
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
    m_errors.guard([this] { m_writer.setDatabaseName(m_settings.text(SettingId::Eddb)); });
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
    values.rowsWaiting = m_outbox->pendingCount();
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
    values.databaseConnected = m_writer.isConnected();
    return values;
}

TickProgress CoreStation::tickProgress() const {
    // The count first: a line appended in between then reads as taken, never the other way round.
    const qsizetype queued = m_queue.size();
    const quint64 taken = m_queue.appendedCount() - quint64(queued);
    return {taken, queued > 0 && m_timer.isEnabled() && m_writerTransaction.acceptsRows()};
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
        // Settings no port takes would be stored and refused again at every start.
        if (const QString problem = station::ComPort::settingsProblem(chosen); !problem.isEmpty())
            throw base::Error(problem + u"; el puerto sigue con su configuraci\u00f3n anterior"_s);
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
    Q_EMIT closeStarted();
    try {
        formClose();
    } catch (const std::exception& e) {
        m_formStorage.store(placement);
        const QString message = base::messageOf(e);
        m_errors.report(message);
        // The station may stay open for a long while, or be killed, before the operator tries
        // again: the rows stored so far must not wait for that.
        m_writer.requestCommit();
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
    // The rows still on their way get their time; whatever the database did not confirm by then
    // stays in the outbox for the next start.
    m_writer.requestCommit();
    m_writer.stop();
    m_groupCommit.round();
    // Timers are stopped on the thread they run on, which ends after the close.
    m_diskWatch.stop();
    m_backlog.stopRefreshing();
    // Its sockets belong to this thread, which ends after the close.
    m_metrics.reset();
    // The last records' changes reach the front end before the end does.
    m_panelRelay.flush();
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
