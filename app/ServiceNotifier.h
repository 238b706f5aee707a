#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QProcessEnvironment>

#include <chrono>
#include <optional>

namespace app {

// Tells the service manager how the station is doing, as a notify service does: one datagram per
// state ("READY=1", "STATUS=...", "WATCHDOG=1") to the unix socket the manager names in
// NOTIFY_SOCKET ('@' at its start: a socket in the abstract namespace). Without that variable, or
// with one it cannot use, it stays inactive and sends nothing.
//
// A send never waits: a manager that does not read its socket loses the datagram, not the station
// its time. send() may be called from any thread.
class ServiceNotifier final {
public:
    // From the process's environment: NOTIFY_SOCKET, and WATCHDOG_USEC unless WATCHDOG_PID names
    // another process.
    static ServiceNotifier
    fromEnvironment(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    // `socketName` as NOTIFY_SOCKET holds it; no watchdog when `watchdog` is none or zero.
    explicit ServiceNotifier(const QByteArray& socketName,
                             std::optional<std::chrono::microseconds> watchdog = {});
    ~ServiceNotifier();
    ServiceNotifier(ServiceNotifier&& other) noexcept;
    ServiceNotifier& operator=(ServiceNotifier&&) = delete;
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    bool active() const { return m_fd >= 0; }
    // How often the manager wants to hear WATCHDOG=1 at the latest; none when it does not watch.
    std::optional<std::chrono::microseconds> watchdogInterval() const { return m_watchdog; }

    // One datagram with `state`, newline-separated assignments. False when it did not go.
    bool send(QByteArrayView state) const;

private:
    int m_fd = -1;
    QByteArray m_address; // a sockaddr_un, as long as it counts
    std::optional<std::chrono::microseconds> m_watchdog;
};

} // namespace app
