#include "app/ServiceNotifier.h"

#include <QString>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace app {

namespace {

// The socket's address, empty for a name no unix socket can have.
QByteArray addressOf(const QByteArray& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const bool abstract = name.startsWith('@');
    if ((!abstract && !name.startsWith('/')) || name.size() < 2 ||
        std::size_t(name.size()) > sizeof address.sun_path - (abstract ? 0 : 1))
        return {};
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    // An abstract name starts with a NUL and is as long as the address says, without a terminator.
    if (abstract)
        address.sun_path[0] = '\0';
    const std::size_t length =
        offsetof(sockaddr_un, sun_path) + std::size_t(name.size()) + (abstract ? 0 : 1);
    return QByteArray(reinterpret_cast<const char*>(&address), qsizetype(length));
}

} // namespace

ServiceNotifier ServiceNotifier::fromEnvironment(const QProcessEnvironment& environment) {
    std::optional<std::chrono::microseconds> watchdog;
    bool ok = false;
    const qulonglong usec = environment.value(u"WATCHDOG_USEC"_s).toULongLong(&ok);
    // The watchdog belongs to the process the manager started; a helper it started inherits the
    // variables but not the duty.
    const QString pid = environment.value(u"WATCHDOG_PID"_s);
    if (ok && usec > 0 && (pid.isEmpty() || pid.toLongLong() == qint64(::getpid())))
        watchdog = std::chrono::microseconds(usec);
    return ServiceNotifier(environment.value(u"NOTIFY_SOCKET"_s).toLocal8Bit(), watchdog);
}

ServiceNotifier::ServiceNotifier(const QByteArray& socketName,
                                 std::optional<std::chrono::microseconds> watchdog)
    : m_address(addressOf(socketName)) {
    if (m_address.isEmpty())
        return;
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && watchdog && watchdog->count() > 0)
        m_watchdog = watchdog;
}

ServiceNotifier::~ServiceNotifier() {
    if (m_fd >= 0)
        ::close(m_fd);
}

ServiceNotifier::ServiceNotifier(ServiceNotifier&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_address(std::move(other.m_address))
    , m_watchdog(std::exchange(other.m_watchdog, std::nullopt)) {}

bool ServiceNotifier::send(QByteArrayView state) const {
    if (m_fd < 0)
        return false;
    ssize_t sent;
    do {
        sent =
            ::sendto(m_fd, state.data(), std::size_t(state.size()), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(m_address.constData()), socklen_t(m_address.size()));
    } while (sent < 0 && errno == EINTR);
    return sent == state.size();
}

} // namespace app
