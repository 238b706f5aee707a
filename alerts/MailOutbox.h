#pragma once

#include "alerts/MailMessage.h"
#include "alerts/SmtpClient.h"
#include "alerts/SmtpServer.h"

#include <QObject>

#include <optional>

namespace alerts {

// Alerts and test sends waiting for the SMTP client. One mail is in flight at a time. While it is,
// a newer alert replaces an alert still waiting (the older one is counted and dropped: the newer
// one says the same, later), and a test send waits beside it. Nothing here ever waits.
class MailOutbox final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailOutbox)

public:
    enum class Kind { Alert, Test };
    Q_ENUM(Kind)

    explicit MailOutbox(QObject* parent = nullptr);

    void post(Kind kind, const SmtpServer& server, const MailMessage& message);

    // Nothing in flight and nothing waiting.
    bool idle() const { return !m_inFlight && !m_waitingAlert && !m_waitingTest; }
    // Alerts dropped for a newer one since the start.
    int replaced() const { return m_replaced; }

    // Drops what waits and ends the mail in flight with `why`.
    void abortAll(const QString& why);

    SmtpClient& client() { return m_client; }

Q_SIGNALS:
    // One per mail that went to the client; `error` empty when the server took it.
    void finished(alerts::MailOutbox::Kind kind, const QString& error);
    // The last mail has finished and nothing waits.
    void drained();

private:
    struct Job {
        Kind kind;
        SmtpServer server;
        MailMessage message;
    };

    void startNext();
    void onFinished(const QString& error);

    SmtpClient m_client;
    std::optional<Kind> m_inFlight;
    std::optional<Job> m_waitingAlert;
    std::optional<Job> m_waitingTest;
    int m_replaced = 0;
};

} // namespace alerts
