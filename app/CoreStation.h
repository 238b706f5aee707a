#pragma once

#include "alerts/AlertReport.h"
#include "alerts/MessageEditor.h"
#include "alerts/QualityCounters.h"
#include "app/AlertTally.h"
#include "app/DatabaseBacklog.h"
#include "app/GroupCommit.h"
#include "app/MetricsEndpoint.h"
#include "app/MetricsValues.h"
#include "app/RowTally.h"
#include "app/TickProgress.h"
#include "base/Clock.h"
#include "base/ErrorReport.h"
#include "base/Stopwatch.h"
#include "config/SerialPortSettings.h"
#include "config/Settings.h"
#include "config/SettingsStore.h"
#include "records/PackageRowInsert.h"
#include "records/RecordProcessor.h"
#include "station/FormStorage.h"
#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/NetworkIntake.h"
#include "station/OriginTag.h"
#include "station/PanelRelay.h"
#include "station/ProcessingTick.h"
#include "station/QtTickTimer.h"
#include "station/RawLog.h"
#include "station/SerialIntake.h"
#include "station/SideFile.h"
#include "storage/FileStamp.h"
#include "storage/RawLogFiles.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"
#include "storage/WriterTransaction.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

namespace app {

// The station core put together: every piece of station state, owned here and touched only on the
// thread this object lives on. Front ends talk to it through its commands, posted as queued calls,
// and follow it through the live panel's and the error report's notifications.
class CoreStation final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CoreStation)

public:
    explicit CoreStation(QString settingsFile = config::SettingsStore::defaultFilePath(),
                         QObject* parent = nullptr);
    ~CoreStation() override;

    config::Settings& settings() { return m_settings; }
    station::LivePanel& panel() { return m_panel; }
    // The panel's changes for a front end on another thread, in batches.
    station::PanelRelay& panelRelay() { return m_panelRelay; }
    station::IntakeQueue& queue() { return m_queue; }
    base::ErrorReport& errors() { return m_errors; }
    station::RawLog& logEthernet() { return m_logEthernet; }
    station::RawLog& logRS232() { return m_logRS232; }
    const config::SerialPortSettings& serialPort() const { return m_serialPort; }
    station::SerialIntake& serialIntake() { return m_serial; }
    // The alert editor: template, message settings and the mail in flight.
    alerts::MessageEditor& alertMail() { return m_editor; }
    // How the last alert mail went, once per change.
    alerts::AlertReport& alertReport() { return m_alertReport; }
    // Rows waiting for the database, as the operator is told of them.
    DatabaseBacklog& databaseBacklog() { return m_backlog; }
    storage::RowOutbox& rowOutbox() { return *m_outbox; }
    // None when its file could not be opened.
    station::IntakeJournal* intakeJournal() { return m_intakeJournal.get(); }

    // How long the close waits for a mail still in flight before it drops it.
    static constexpr std::chrono::milliseconds kCloseMailWait{5000};
    void setCloseMailWait(std::chrono::milliseconds wait) { m_closeMailWait = wait; }

    // The alert mails' outcomes, for the metrics and the quality tab.
    AlertTally& alerts() { return m_alerts; }

    // The counters as the panel, the queue, the intake and the executor hold them now.
    MetricsValues metrics() const;
    // Serves metrics() over HTTP on this object's thread; an empty text when listening, else why
    // it could not.
    QString serveMetrics(const MetricsAddress& address);
    // The port the metrics are served on; 0 when they are not.
    quint16 metricsPort() const { return m_metrics ? m_metrics->port() : 0; }

    // Where the tick stands, for the service manager's watchdog.
    TickProgress tickProgress() const;

    // Who the database writer logs in as; set before startUp(), else the built-in login is used.
    void setDatabaseLogin(const storage::DatabaseLogin& login) { m_writer.setLogin(login); }

    // The first show: the stored settings come back, the side files are read and the station
    // starts. `placementRestored` hands the window its placement.
    void startUp(const station::ScreenLayout& screen = {});

    // The operator's commands: "Iniciar", "Parar", "Guardar Log", "Reset" and the hidden
    // "Conectar".
    Q_INVOKABLE void iniciar();
    Q_INVOKABLE void parar();
    Q_INVOKABLE void guardar();
    Q_INVOKABLE void reset();
    Q_INVOKABLE void conectar();
    // "Sen&d" of the message editor: the test mail; its outcome comes from `alertMail()`.
    Q_INVOKABLE void correo();
    // The operator's edits in the message editor.
    Q_INVOKABLE void setEditorState(const alerts::EditorState& state);
    // An operator's edit on the configuration tab; read at the next use.
    Q_INVOKABLE void setSetting(config::SettingId id, const QVariant& value);
    // New serial port settings, as the port dialog or the console chose them: the port closes, the
    // port number, speed, data bits, stop bits and parity are taken (flow control stays), and
    // "ACK" is sent, which opens the port with them. A port that cannot be opened is reported;
    // the settings stay.
    Q_INVOKABLE void setSerialPort(const config::SerialPortSettings& chosen);

    // The close: reception stops, lines still queued are worked off, the camera lists and the
    // raw logs are written, the settings are stored and the database is released. `closed` tells
    // the front end it is done; `closeFailed` that a file could not be written and the station
    // stays open (the settings stored, reception and the tick stopped, the open transaction
    // committed); a later close starts over. A mail still in flight gets `kCloseMailWait` to finish
    // before the database is released; the close never blocks.
    void close(const station::WindowPlacement& placement = station::WindowPlacement::designed());

Q_SIGNALS:
    void placementRestored(const station::WindowPlacement& placement);
    // The serial port settings, once restored and after every change.
    void serialPortChanged(const config::SerialPortSettings& settings);
    // The database refused a row for good, for the reason given; `row` describes it as the
    // operator saw the record.
    void recordRefused(const QString& row, const QString& error);
    // The station listens for its devices (the lines an earlier run left are queued again by then).
    void listeningStarted();
    // The close begins.
    void closeStarted();
    void closed();
    void closeFailed(const QString& message);

private:
    void formShow();
    void start();
    void formClose();
    void finishClose();
    // Tells the operator once when a full disk stops the reading, and once when it goes on.
    void watchDisk();

    // The periodic raw-log save, as the record processor calls it.
    class PeriodicLogSave final : public records::PeriodicLogSave {
    public:
        explicit PeriodicLogSave(storage::RawLogFiles& files)
            : m_files(files) {}
        void grabar_logs() override { m_files.grabar_logs(); }

    private:
        storage::RawLogFiles& m_files;
    };

    config::Settings m_settings;
    config::SerialPortSettings m_serialPort;
    station::LivePanel m_panel;
    station::PanelRelay m_panelRelay;
    station::IntakeQueue m_queue;
    station::OriginTag m_origin;
    base::ErrorReport m_errors;
    station::RawLog m_logRS232;
    station::RawLog m_logEthernet;
    config::SettingsStore m_store;
    station::FormStorage m_formStorage;
    base::SystemClock m_clock;
    base::SteadyStopwatch m_uncommittedFor;
    storage::FileCounter m_contadorArchivo;
    storage::RawLogFiles m_rawLogFiles;
    PeriodicLogSave m_periodicLogSave;
    QStringList m_startProblems; // found before anyone listened; reported at the start
    std::unique_ptr<station::IntakeJournal> m_intakeJournal; // none when it could not be opened
    std::shared_ptr<storage::RowOutbox> m_outbox;
    storage::RowWriter m_writer;
    GroupCommit m_groupCommit;
    storage::WriterTransaction m_writerTransaction;
    records::PackageRowInsert m_rows;
    RowTally m_rowTally;
    DatabaseBacklog m_backlog;
    AlertTally m_alerts;
    alerts::AlertReport m_alertReport;
    alerts::MessageEditor m_editor;
    alerts::QualityCounters m_quality;
    station::QtTickTimer m_timer;
    records::RecordProcessor m_processor;
    station::ProcessingTick m_tick;
    station::SerialIntake m_serial;
    station::NetworkIntake m_server;
    station::SideFile m_camaras;
    station::SideFile m_nombreCamaras;
    station::SideFile m_turno;
    QTimer m_closeWait;
    QTimer m_diskWatch;
    bool m_diskRefused = false;
    QString m_lastOutboxFailure;
    std::chrono::milliseconds m_closeMailWait = kCloseMailWait;
    std::unique_ptr<MetricsEndpoint> m_metrics;
};

} // namespace app
