#include "tests/support/PseudoTerminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace testsupport {

PseudoTerminal::PseudoTerminal() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        close();
        return;
    }
    m_slave = QString::fromLocal8Bit(::ptsname(m_master));
}

PseudoTerminal::~PseudoTerminal() {
    close();
}

bool PseudoTerminal::write(const QByteArray& bytes) {
    qsizetype sent = 0;
    const QDeadlineTimer deadline(10000);
    while (m_master >= 0 && sent < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n = ::write(m_master, bytes.constData() + sent, std::size_t(bytes.size() - sent));
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            // The terminal's buffer is full until the station reads; let it.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    return sent == bytes.size();
}

QByteArray PseudoTerminal::read(qsizetype size, int timeoutMs) {
    QByteArray got;
    const QDeadlineTimer deadline(timeoutMs);
    while (m_master >= 0 && got.size() < size && !deadline.hasExpired()) {
        char chunk[256];
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0) {
            got.append(chunk, n);
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, 10);
    }
    return got;
}

std::optional<termios> PseudoTerminal::lineSettings() const {
    termios line{};
    if (m_master < 0 || ::tcgetattr(m_master, &line) != 0)
        return std::nullopt;
    return line;
}

void PseudoTerminal::close() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

DosDevices::DosDevices()
    : m_previous(qgetenv("XDG_CONFIG_HOME"))
    , m_hadPrevious(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    QDir(m_dir.path()).mkpath(u"Tarvenix/dosdevices"_s);
}

DosDevices::~DosDevices() {
    if (m_hadPrevious)
        qputenv("XDG_CONFIG_HOME", m_previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

bool DosDevices::link(int n, const QString& target) {
    const QString name = m_dir.filePath(u"Tarvenix/dosdevices/com%1"_s.arg(n));
    QFile::remove(name);
    return QFile::link(target, name);
}

} // namespace testsupport
