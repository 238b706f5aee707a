#include "alerts/MailOutbox.h"

#include <utility>

namespace alerts {

MailOutbox::MailOutbox(QObject* parent)
    : QObject(parent)
    , m_client(this) {
    connect(&m_client, &SmtpClient::finished, this, &MailOutbox::onFinished);
}

void MailOutbox::post(Kind kind, const SmtpServer& server, const MailMessage& message) {
    if (kind == Kind::Test) {
        m_waitingTest = Job{kind, server, message};
    } else {
        m_waitingAlerts.push_back(Job{kind, server, message});
        m_waitingBytes += message.content().size();
        while (waitingAlerts() > kMaxWaitingAlerts ||
               (m_waitingBytes > kMaxWaitingBytes && waitingAlerts() > 1))
            dropOldestAlert();
    }
    if (!m_inFlight)
        startNext();
}

void MailOutbox::abortAll(const QString& why) {
    endBurst();
    const std::deque<Job> waiting = std::exchange(m_waitingAlerts, {});
    m_waitingBytes = 0;
    for (std::size_t i = 0; i < waiting.size(); ++i)
        Q_EMIT finished(Kind::Alert, why, {});
    if (std::exchange(m_waitingTest, std::nullopt))
        Q_EMIT finished(Kind::Test, why, {});
    m_client.abort(why);
}

void MailOutbox::startNext() {
    std::optional<Job> next;
    if (m_waitingTest) {
        next = std::exchange(m_waitingTest, std::nullopt);
    } else if (!m_waitingAlerts.empty()) {
        next = std::move(m_waitingAlerts.front());
        m_waitingAlerts.pop_front();
        m_waitingBytes -= next->message.content().size();
        if (m_waitingAlerts.empty())
            endBurst();
    }
    if (!next) {
        Q_EMIT drained();
        return;
    }
    m_inFlight = next->kind;
    m_client.send(next->server, next->message);
}

void MailOutbox::onFinished(const QString& error, const QString& note) {
    const Kind kind = *m_inFlight;
    m_inFlight.reset();
    Q_EMIT finished(kind, error, note);
    // A listener may have posted the next mail already.
    if (!m_inFlight)
        startNext();
}

void MailOutbox::dropOldestAlert() {
    m_waitingBytes -= m_waitingAlerts.front().message.content().size();
    m_waitingAlerts.pop_front();
    ++m_dropped;
    if (m_burstTold)
        return;
    // Told from the event loop, so that the drops of a whole tick's records go in one report.
    if (m_untoldDrops++ == 0)
        QMetaObject::invokeMethod(this, &MailOutbox::tellDrops, Qt::QueuedConnection);
}

void MailOutbox::tellDrops() {
    if (m_untoldDrops == 0)
        return;
    m_burstTold = true;
    Q_EMIT alertsDropped(std::exchange(m_untoldDrops, 0));
}

void MailOutbox::endBurst() {
    tellDrops();
    m_burstTold = false;
}

} // namespace alerts
