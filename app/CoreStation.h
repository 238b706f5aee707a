#pragma once

#include "config/SerialPortSettings.h"
#include "config/Settings.h"
#include "config/SettingsStore.h"
#include "records/RecordProcessor.h"
#include "station/Clock.h"
#include "station/ErrorReport.h"
#include "station/FormStorage.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/OriginTag.h"
#include "station/ProcessingTick.h"
#include "station/QtTickTimer.h"
#include "station/RawLog.h"
#include "storage/FileStamp.h"
#include "storage/RawLogFiles.h"

#include <QObject>

namespace app {

// The station core put together: every piece of station state, owned here and touched only on the
// thread this object lives on. Front ends talk to it through its invokable commands, posted as
// queued calls, and follow it through the live panel's and the error report's notifications.
class CoreStation final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CoreStation)

public:
    explicit CoreStation(QString settingsFile = config::SettingsStore::defaultFilePath(),
                         QObject* parent = nullptr);
    ~CoreStation() override;

    config::Settings& settings() { return m_settings; }
    station::LivePanel& panel() { return m_panel; }
    station::IntakeQueue& queue() { return m_queue; }
    station::ErrorReport& errors() { return m_errors; }
    station::RawLog& logEthernet() { return m_logEthernet; }
    station::RawLog& logRS232() { return m_logRS232; }

    // The first show: the stored settings come back, then the station starts. `placementRestored`
    // hands the window its placement.
    void startUp(const station::ScreenLayout& screen = {});
    // The operator's commands.
    Q_INVOKABLE void iniciar();
    Q_INVOKABLE void parar();
    Q_INVOKABLE void guardar();
    Q_INVOKABLE void reset();
    // An operator's edit on the configuration tab; read at the next use.
    Q_INVOKABLE void setSetting(config::SettingId id, const QVariant& value);
    // Closes the station; `closed` tells the front end when it is done, `closeFailed` when the
    // close handler stopped on an error (the window then stays open).
    void close(const station::WindowPlacement& placement = station::WindowPlacement::designed());

Q_SIGNALS:
    void placementRestored(const station::WindowPlacement& placement);
    void closed();
    void closeFailed(const QString& message);

private:
    // The periodic raw-log save, as the record processor calls it.
    class PeriodicLogSave final : public records::PeriodicLogSave {
    public:
        explicit PeriodicLogSave(storage::RawLogFiles& files)
            : m_files(files) {}
        void grabar_logs() override { m_files.grabar_logs(); }

    private:
        storage::RawLogFiles& m_files;
    };
    // Until the database is put in, rows go nowhere and no transaction is ever active.
    class NoDatabase final : public records::RowStore, public station::TransactionControl {
    public:
        bool insertar(const QString&) override { return true; }
        double tiempoPromedio() const override { return 0; }
        bool isActive() const override { return false; }
        void commit() override {}
    };
    // Until the quality counters are put in, nothing is judged.
    class NoQuality final : public records::QualityEvaluation {
    public:
        void evaluar_calidad(const QString&, const QString&, const QString&) override {}
    };

    config::Settings m_settings;
    config::SerialPortSettings m_serialPort;
    station::LivePanel m_panel;
    station::IntakeQueue m_queue;
    station::OriginTag m_origin;
    station::ErrorReport m_errors;
    station::RawLog m_logRS232;
    station::RawLog m_logEthernet;
    config::SettingsStore m_store;
    station::FormStorage m_formStorage;
    station::SystemClock m_clock;
    storage::FileCounter m_contadorArchivo;
    storage::RawLogFiles m_rawLogFiles;
    PeriodicLogSave m_periodicLogSave;
    NoDatabase m_database;
    NoQuality m_quality;
    station::QtTickTimer m_timer;
    records::RecordProcessor m_processor;
    station::ProcessingTick m_tick;
};

} // namespace app
