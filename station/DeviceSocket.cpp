#include "station/DeviceSocket.h"

#include <QObject>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace station {

namespace {

qsizetype receive(int descriptor, char* buffer, qsizetype capacity, int flags) {
    for (;;) {
        const ssize_t got = ::recv(descriptor, buffer, std::size_t(capacity), flags);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

QHostAddress peerOf(int descriptor) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}

} // namespace

DeviceSocket::DeviceSocket(int descriptor, std::function<void()> readable)
    : m_descriptor(descriptor)
    , m_peer(peerOf(descriptor))
    , m_notifier(descriptor, QSocketNotifier::Read) {
    // The event loop must never wait in a read.
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                     [readable = std::move(readable)] { readable(); });
}

DeviceSocket::~DeviceSocket() {
    m_notifier.setEnabled(false);
    ::close(m_descriptor);
}

void DeviceSocket::setReading(bool on) {
    m_notifier.setEnabled(on);
}

DeviceSocket::Taken DeviceSocket::take(char* buffer, qsizetype capacity) {
    const qsizetype waiting = receive(m_descriptor, buffer, capacity, MSG_PEEK);
    if (waiting == 0)
        return {0, true};
    if (waiting < 0)
        return {0, errno != EAGAIN && errno != EWOULDBLOCK};
    // Through the last LF: the start of the line after it stays with the system. Without an LF the
    // device has not sent the line's end yet (or the line is too long to keep whole), and what is
    // there is taken, or the event loop would be woken for it again and again.
    qsizetype wanted = waiting;
    if (const void* lf = ::memrchr(buffer, '\n', std::size_t(waiting)))
        wanted = static_cast<const char*>(lf) - buffer + 1;
    // What was peeked is there: the same bytes come again, as many.
    const qsizetype got = receive(m_descriptor, buffer, wanted, 0);
    if (got <= 0)
        return {0, got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)};
    return {got, false};
}

} // namespace station
