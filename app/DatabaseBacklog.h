#pragma once

#include "base/ErrorReport.h"
#include "base/Stopwatch.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace base {
class Clock;
}

namespace app {

// Where the rows on their way stand: how many wait, and the outbox's positions, which only grow.
struct OutboxProgress {
    qint64 waiting = 0;
    qint64 confirmed = 0; // everything before it is in the database
    qint64 appended = 0;  // the end of what was appended
};

// What the operator is told while rows wait for the database: on the status bar, how many wait,
// since when and the connection's own error; on the error output the same once a minute; and when
// the database is back, the count running down and, once every row that waited through the outage
// is stored (rows that came in since do not hold it back), a line that says so.
class DatabaseBacklog final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabaseBacklog)

public:
    static constexpr std::chrono::seconds kNoticeEvery{60};
    static constexpr std::chrono::milliseconds kRefreshEvery{1000};

    DatabaseBacklog(std::function<OutboxProgress()> progress, const base::Clock& clock,
                    QObject* parent = nullptr);
    // `sinceNotice` measures the time since the last line on the error output.
    DatabaseBacklog(std::function<OutboxProgress()> progress, const base::Clock& clock,
                    base::Stopwatch& sinceNotice, QObject* parent = nullptr);

    void connectionLost(const QString& error);
    void connectionBack();
    // A local database file was not there and was made: a mistyped name would otherwise store
    // every row in a file nobody looks at. Told once, on both.
    void databaseCreated(const QString& path);
    // Reads the count again (the refresh timer does this every second while there is something to show).
    void refresh();

    // The close: its timer stops on the thread it runs on.
    void stopRefreshing() { m_refresh.stop(); }

    // Empty when there is nothing to tell.
    const QString& statusText() const { return m_status; }

    // "1 532": thousands apart, as the operator reads a count.
    static QString countText(qint64 count);
    // "1 fila", "1 532 filas".
    static QString rowsText(qint64 count);

Q_SIGNALS:
    void statusChanged(const QString& text);
    // A line for the error output: rows waiting are an error, the database back or made a notice.
    void notice(const QString& line, base::Priority priority);

private:
    void show(const QString& text);

    std::function<OutboxProgress()> m_progress;
    const base::Clock& m_clock;
    base::SteadyStopwatch m_ownStopwatch;
    base::Stopwatch& m_sinceNotice;
    bool m_noticeDue = true;
    QTimer m_refresh;
    QString m_status;
    QString m_error;
    QDateTime m_since;
    qint64 m_owedUpTo = 0; // the rows that waited through the outage end here
    bool m_down = false;
};

} // namespace app
