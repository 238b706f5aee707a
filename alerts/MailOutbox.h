#pragma once

#include "alerts/MailMessage.h"
#include "alerts/SmtpClient.h"
#include "alerts/SmtpServer.h"

#include <QObject>

#include <deque>
#include <optional>

namespace alerts {

// Alerts and test sends waiting for the SMTP client. One mail is in flight at a time; alerts wait
// behind it in their order, a test send ahead of them (a newer one in its place). A server that is slow for
// long must not fill the station's memory: beyond kMaxWaitingAlerts (or kMaxWaitingBytes of mail)
// the oldest waiting alert is dropped, and the drops are told once a burst, a burst lasting until
// no alert waits any more. Nothing here ever waits.
class MailOutbox final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailOutbox)

public:
    enum class Kind { Alert, Test };
    Q_ENUM(Kind)

    static constexpr qsizetype kMaxWaitingAlerts = 100;
    static constexpr qsizetype kMaxWaitingBytes = 16 * 1024 * 1024; // a template at its largest

    explicit MailOutbox(QObject* parent = nullptr);

    void post(Kind kind, const SmtpServer& server, const MailMessage& message);

    // Nothing in flight and nothing waiting.
    bool idle() const { return !m_inFlight && m_waitingAlerts.empty() && !m_waitingTest; }
    qsizetype waitingAlerts() const { return static_cast<qsizetype>(m_waitingAlerts.size()); }
    // Alerts dropped for want of room since the start.
    quint64 dropped() const { return m_dropped; }

    // Drops what waits and ends the mail in flight with `why`, every outcome told before it
    // returns: the thread may end right after (the station's close).
    void abortAll(const QString& why);

    SmtpClient& client() { return m_client; }

Q_SIGNALS:
    // One per mail that went to the client or was aborted waiting; `error` empty when the server
    // took it, `note` what the operator should still know of a mail taken (SmtpClient::finished).
    void finished(alerts::MailOutbox::Kind kind, const QString& error, const QString& note);
    // The last mail has finished and nothing waits.
    void drained();
    // Alerts dropped in this burst so far: those of the same turn of the event loop as the first
    // drop, told together; later drops of the burst are only counted.
    void alertsDropped(qint64 count);

private:
    struct Job {
        Kind kind;
        SmtpServer server;
        MailMessage message;
    };

    void startNext();
    void onFinished(const QString& error, const QString& note);
    void dropOldestAlert();
    void tellDrops();
    // No alert waits any more: drops not told yet are told, the next one starts a burst of its own.
    void endBurst();

    SmtpClient m_client;
    std::optional<Kind> m_inFlight;
    std::deque<Job> m_waitingAlerts;
    qsizetype m_waitingBytes = 0;
    std::optional<Job> m_waitingTest;
    quint64 m_dropped = 0;
    qint64 m_untoldDrops = 0;
    bool m_burstTold = false;
};

} // namespace alerts
