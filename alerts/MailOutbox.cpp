#include "alerts/MailOutbox.h"

namespace alerts {

MailOutbox::MailOutbox(QObject* parent)
    : QObject(parent)
    , m_client(this) {
    connect(&m_client, &SmtpClient::finished, this, &MailOutbox::onFinished);
}

void MailOutbox::post(Kind kind, const SmtpServer& server, const MailMessage& message) {
    std::optional<Job>& slot = kind == Kind::Alert ? m_waitingAlert : m_waitingTest;
    if (kind == Kind::Alert && slot)
        ++m_replaced;
    slot = Job{kind, server, message};
    if (!m_inFlight)
        startNext();
}

void MailOutbox::abortAll(const QString& why) {
    if (m_waitingAlert)
        Q_EMIT finished(Kind::Alert, why);
    if (m_waitingTest)
        Q_EMIT finished(Kind::Test, why);
    m_waitingAlert.reset();
    m_waitingTest.reset();
    m_client.abort(why);
}

void MailOutbox::startNext() {
    std::optional<Job>& next = m_waitingTest ? m_waitingTest : m_waitingAlert;
    if (!next) {
        Q_EMIT drained();
        return;
    }
    const Job job = std::move(*next);
    next.reset();
    m_inFlight = job.kind;
    m_client.send(job.server, job.message);
}

void MailOutbox::onFinished(const QString& error) {
    const Kind kind = *m_inFlight;
    m_inFlight.reset();
    Q_EMIT finished(kind, error);
    // A listener may have posted the next mail already.
    if (!m_inFlight)
        startNext();
}

} // namespace alerts
