#pragma once

#include "base/ErrorReport.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>

#include <memory>

namespace app {

// One of the console's output streams (standard output or error), written without ever blocking
// the thread it lives on: what the descriptor does not take at once waits here, up to a bound, and
// goes out as the descriptor becomes writable. A reader that stalls costs bounded memory and never
// holds up the station or its signals; a reader that is gone costs nothing.
class ConsoleOutput final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsoleOutput)

public:
    static constexpr qsizetype kDefaultLimit = 1024 * 1024;

    // Does not own `fd`.
    explicit ConsoleOutput(int fd, qsizetype limit = kDefaultLimit, QObject* parent = nullptr);

    // Whether each line starts with its priority, for the journal (see isJournalStream()).
    void setPriorityPrefixes(bool on) { m_prefixed = on; }

    // Queues the lines, each with a line end. Returns false, leaving them all out, when the bytes
    // waiting would go beyond `limit` times `share`.
    bool writeLines(const QStringList& lines, qsizetype share = 1,
                    base::Priority priority = base::Priority::Info);
    bool writeLine(const QString& line, qsizetype share = 1, base::Priority priority = base::Priority::Info) {
        return writeLines({line}, share, priority);
    }

    // Bytes still waiting for the descriptor.
    qsizetype pending() const { return m_pending.size() - m_sent; }

    // Gives the descriptor up to `ms` milliseconds to take what is waiting (the program's end).
    void drain(int ms);

private:
    void flush();

    const int m_fd;
    const qsizetype m_limit;
    const qsizetype m_chunk;
    QByteArray m_pending;
    qsizetype m_sent = 0; // bytes at the front of m_pending already written
    std::unique_ptr<QSocketNotifier> m_writable;
    bool m_gone = false;
    bool m_prefixed = false;
};

} // namespace app
