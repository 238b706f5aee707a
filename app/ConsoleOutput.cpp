#include "app/ConsoleOutput.h"

#include "app/JournalStream.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>

#include <climits>
#include <poll.h>
#include <unistd.h>

namespace app {

namespace {

// Whether a write to `fd` would not block now, waiting at most `ms` for it.
bool writableWithin(int fd, int ms) {
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace

ConsoleOutput::ConsoleOutput(int fd, qsizetype limit, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_limit(limit)
    // A writable pipe takes PIPE_BUF bytes without blocking; a terminal only promises a little room.
    , m_chunk(::isatty(fd) ? 256 : PIPE_BUF) {}

bool ConsoleOutput::writeLines(const QStringList& lines, qsizetype share, base::Priority priority) {
    if (m_gone)
        return true;
    QByteArray bytes;
    for (const QString& line : lines) {
        if (m_prefixed) {
            bytes += journalLines(line, priority, true);
        } else {
            bytes += line.toUtf8();
            bytes += '\n';
        }
    }
    if (pending() + bytes.size() > m_limit * share)
        return false;
    m_pending += bytes;
    flush();
    return true;
}

void ConsoleOutput::flush() {
    while (pending() > 0) {
        if (!writableWithin(m_fd, 0)) {
            if (!m_writable) {
                m_writable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
                connect(m_writable.get(), &QSocketNotifier::activated, this, &ConsoleOutput::flush);
            }
            m_writable->setEnabled(true);
            return;
        }
        const ssize_t written =
            ::write(m_fd, m_pending.constData() + m_sent, std::min(m_pending.size() - m_sent, m_chunk));
        if (written < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (written <= 0) {
            // The reader is gone or the descriptor is broken: nothing more will be shown.
            m_gone = true;
            m_pending.clear();
            m_sent = 0;
            break;
        }
        m_sent += written;
        if (m_sent == m_pending.size()) {
            m_pending.clear();
            m_sent = 0;
        } else if (m_sent > m_pending.size() / 2) {
            m_pending.remove(0, m_sent);
            m_sent = 0;
        }
    }
    if (m_writable)
        m_writable->setEnabled(false);
}

void ConsoleOutput::drain(int ms) {
    const QDeadlineTimer deadline(ms);
    while (pending() > 0 && !m_gone &&
           writableWithin(m_fd, static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)))) {
        flush();
        if (deadline.hasExpired())
            break;
    }
}

} // namespace app
