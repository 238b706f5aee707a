#pragma once

#include "config/Settings.h"
#include "station/ErrorReport.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/OriginTag.h"
#include "station/ProcessingTick.h"
#include "station/QtTickTimer.h"
#include "station/RawLog.h"

#include <QObject>

namespace app {

// The station core put together: every piece of station state, owned here and touched only on the
// thread this object lives on. Front ends talk to it through its invokable commands, posted as
// queued calls, and follow it through the live panel's and the error report's notifications.
class CoreStation final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CoreStation)

public:
    explicit CoreStation(QObject* parent = nullptr);
    ~CoreStation() override;

    config::Settings& settings() { return m_settings; }
    station::LivePanel& panel() { return m_panel; }
    station::IntakeQueue& queue() { return m_queue; }
    station::ErrorReport& errors() { return m_errors; }
    station::RawLog& logEthernet() { return m_logEthernet; }
    station::RawLog& logRS232() { return m_logRS232; }

    // The first show: the processing timer runs from here on.
    Q_INVOKABLE void startUp();
    // The operator's commands.
    Q_INVOKABLE void iniciar();
    Q_INVOKABLE void parar();
    Q_INVOKABLE void guardar();
    Q_INVOKABLE void reset();
    // An operator's edit on the configuration tab; read at the next use.
    Q_INVOKABLE void setSetting(config::SettingId id, const QVariant& value);
    // Closes the station; `closed` tells the front end when it is done, `closeFailed` when the
    // close handler stopped on an error (the window then stays open).
    Q_INVOKABLE void close();

Q_SIGNALS:
    void closed();
    void closeFailed(const QString& message);

private:
    // Until the record processor is put in, a line is taken and shown but not parsed.
    class ShowOnly final : public station::FrameHandler {
    public:
        void procesar_dato(QString&) override {}
    };
    // Until the database is put in, no transaction is ever active.
    class NoTransaction final : public station::TransactionControl {
    public:
        bool isActive() const override { return false; }
        void commit() override {}
    };

    config::Settings m_settings;
    station::LivePanel m_panel;
    station::IntakeQueue m_queue;
    station::OriginTag m_origin;
    station::ErrorReport m_errors;
    station::RawLog m_logEthernet;
    station::RawLog m_logRS232;
    ShowOnly m_processor;
    NoTransaction m_transaction;
    station::QtTickTimer m_timer;
    station::ProcessingTick m_tick;
};

} // namespace app
