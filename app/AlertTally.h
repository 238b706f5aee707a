#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

namespace app {

// What became of the alert mails: how many went out, how many failed, and the last one's time and
// outcome, counted from every outcome the alert report notes; the metrics and the quality tab
// read it.
class AlertTally final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlertTally)

public:
    struct Last {
        QDateTime at;
        bool sent = false;
        QString outcome;
    };

    using QObject::QObject;

    // One alert mail's outcome: sent, or failed for the reason given.
    void note(const QDateTime& at, bool sent, const QString& outcome) {
        ++(sent ? m_sent : m_failed);
        m_last = {at, sent, outcome};
        Q_EMIT changed(at, sent, outcome);
    }

    quint64 sentCount() const { return m_sent; }
    quint64 failedCount() const { return m_failed; }
    // Empty `at` while no alert has been tried in this run.
    const Last& last() const { return m_last; }

Q_SIGNALS:
    // Carries the outcome, so that a front end on another thread need not read it back.
    void changed(const QDateTime& at, bool sent, const QString& outcome);

private:
    quint64 m_sent = 0;
    quint64 m_failed = 0;
    Last m_last;
};

} // namespace app
