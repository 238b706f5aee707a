#pragma once

#include <QHostAddress>
#include <QSocketNotifier>
#include <QtGlobal>

#include <functional>

namespace station {

// One device's TCP connection, read by the station itself rather than through a buffered socket,
// so that the station holds none of its bytes in memory on their way to the intake journal: a read
// takes whole lines (through the last LF the system holds), the caller journals them at once, and
// the start of a line after them stays with the system. While reading is off nothing is taken at
// all: the device's bytes wait in the system and TCP pushes back on the device. Only a line whose
// end the device has not sent yet is taken in part, since the system would otherwise wake the
// station for it again and again.
//
// Lives on the intake's thread; owns the descriptor.
class DeviceSocket final {
public:
    struct Taken {
        qsizetype size = 0; // bytes taken into the buffer
        bool ended = false; // the device hung up or the connection failed; nothing more comes
    };

    // `descriptor`: a connected TCP socket, taken over. `readable` is told whenever bytes may be
    // taken while reading is on.
    DeviceSocket(int descriptor, std::function<void()> readable);
    ~DeviceSocket(); // closes the connection; bytes the station did not take are lost with it
    Q_DISABLE_COPY_MOVE(DeviceSocket)

    QHostAddress peerAddress() const { return m_peer; }

    // Off: nothing is read, the device's bytes wait in the system and then on the device.
    void setReading(bool on);
    bool isReading() const { return m_notifier.isEnabled(); }

    // Takes the whole lines waiting (through their last LF) into `buffer`, up to `capacity` bytes;
    // with no LF among them, whatever is there.
    Taken take(char* buffer, qsizetype capacity);

private:
    const int m_descriptor;
    QHostAddress m_peer;
    QSocketNotifier m_notifier;
};

} // namespace station
