#pragma once

#include <QThread>
#include <QtGlobal>

#include <functional>
#include <limits>
#include <memory>

namespace station {

class IntakeQueue;
class OriginTag;

// `Server1`: the TCP listener the reading devices send their lines to. Every received line is
// tagged with its sender's address and appended to `L1`; `origen_actual` names the connection
// that is waiting for its next line.
//
// All socket work runs on an I/O thread of its own, event-driven, so a thousand devices need no
// thousand threads and a silent device never holds up another. The only state shared with the
// core is the queue and the origin tag, neither of which ever waits on the core's thread, so
// stop() can block the core until the connections are gone without a deadlock.
//
// Bytes taken off a device's socket are in the intake journal before anything else happens to
// them: each read takes whole lines (the start of a line after them stays with the system; see
// DeviceSocket), and they go to the queue as one batch, which journals them in one write. When the queue
// holds a device back (it fills the queue beyond its share), or the journal cannot write, the intake stops
// reading from that device's socket, so its bytes wait in the system and TCP pushes back on the
// device, and reads on when the queue lets it go; the other devices are still read. While the
// journal cannot write no device is read, so what the disk refused is at most one read. A line
// longer than LineSplitter::kMaxLineBytes is cut, reported once per connection, and the connection
// goes on. No line is dropped, a kill loses none that was taken, and memory stays bounded.
//
// start(), stop(), isActive() and port() are called from one thread, the core's.
class NetworkIntake final {
public:
    // The most one read takes off a socket.
    static constexpr qint64 kSocketReadBuffer = 64 * 1024;
    // The system's largest: the kernel cuts any larger value down to its own maximum. With a
    // short backlog, a burst of devices connecting at once overflows it, and with SYN cookies a
    // device then believes it is connected while its line is lost.
    static constexpr int kListenBacklog = std::numeric_limits<int>::max();

    // The queue and the origin tag must outlive the intake.
    NetworkIntake(IntakeQueue& queue, OriginTag& origin);
    ~NetworkIntake();
    Q_DISABLE_COPY_MOVE(NetworkIntake)

    // Where a connection's problems are told (a line cut for its length), with the device's
    // address; called on the intake's own thread.
    void setProblemReport(std::function<void(const QString&)> report);

    // Listens on `port` on every IPv4 address and, where the system has IPv6, on every IPv6
    // address (a listener of its own, IPv6 only). Port 0 lets the system choose; port() tells
    // which. While active it changes nothing and keeps the current port. Raises StationError
    // "Could not bind socket. Address and port are already in use." when the port cannot be
    // bound; the intake then stays inactive.
    void start(quint16 port);

    // Closes the listeners and every connection and returns once all are gone. Lines already in
    // the queue stay there; bytes the intake had not taken off a socket are lost with it.
    void stop();

    bool isActive() const { return m_active; }
    quint16 port() const { return m_port; }

    // Connections open at this moment, including one whose peer closed while it still has
    // complete lines to deliver. Read without waiting on the I/O thread, so a metrics scrape
    // never holds the core up.
    qsizetype connectionCount() const;

private:
    class Io;

    QThread m_thread;
    std::unique_ptr<Io> m_io; // lives on m_thread
    bool m_active = false;
    quint16 m_port = 0;
};

} // namespace station
