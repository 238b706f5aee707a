#include "tests/support/SmtpPeer.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace testsupport {

SmtpPeer::SmtpPeer(const QString& mode) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(SMTP_PEER_PYTHON), {QStringLiteral(SMTP_PEER_SCRIPT), u"--mode"_s, mode});
    [[maybe_unused]] const bool ready = QTest::qWaitFor(
        [this] {
            readEvents();
            return m_port != 0 || m_process.state() == QProcess::NotRunning;
        },
        15000);
}

SmtpPeer::~SmtpPeer() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

void SmtpPeer::readEvents() {
    m_pending += m_process.readAllStandardOutput();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(m_pending.first(end)).object();
        m_pending.remove(0, end + 1);
        if (event.value(u"event"_s).toString() == u"port"_s)
            m_port = static_cast<quint16>(event.value(u"port"_s).toInt());
        else
            m_events.append(event);
    }
}

QList<QJsonObject> SmtpPeer::events(const QString& kind) {
    readEvents();
    QList<QJsonObject> found;
    for (const QJsonObject& event : m_events)
        if (event.value(u"event"_s).toString() == kind)
            found.append(event);
    return found;
}

bool SmtpPeer::waitFor(const QString& kind, qsizetype count, int timeoutMs) {
    return QTest::qWaitFor([&] { return events(kind).size() >= count; }, timeoutMs);
}

} // namespace testsupport
