#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace app {

class CoreStation;
class ServiceNotifier;

// What the service manager shows of the station: READY=1 once it listens (the lines an earlier run
// left are queued again by then), a short status line with the rows stored and waiting whenever it
// changes (at most once a second), and STOPPING=1 when its close begins. Lives on the core's thread.
class ServiceStatus final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServiceStatus)

public:
    static constexpr std::chrono::milliseconds kStatusEvery{1000};

    ServiceStatus(CoreStation& core, const ServiceNotifier& notifier, QObject* parent = nullptr);

    // On this object's thread.
    void start();
    void stop() { m_refresh.stop(); }

    // "1234 filas guardadas, 0 en espera".
    static QString statusText(quint64 stored, qint64 waiting);

private:
    void refresh();

    CoreStation& m_core;
    const ServiceNotifier& m_notifier;
    QTimer m_refresh;
    QString m_shown;
    bool m_ready = false;
};

} // namespace app
