#include "tests/support/SmtpPeer.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace testsupport {

SmtpPeer::SmtpPeer(const QString& mode) {
    QStringList arguments{QStringLiteral(SMTP_PEER_SCRIPT), u"--mode"_s, mode};
    if (mode == u"starttls"_s) {
        const QStringList tls = makeCertificate();
        if (tls.isEmpty())
            return;
        arguments << tls;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(SMTP_PEER_PYTHON), arguments);
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

QStringList SmtpPeer::makeCertificate() {
    const QString certificate = m_tlsFolder.filePath(u"peer.crt"_s);
    const QString key = m_tlsFolder.filePath(u"peer.key"_s);
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    // An elliptic-curve key: made in milliseconds, where RSA takes a while under load.
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                   u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s,
                   u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s, key,
                   u"-out"_s, certificate});
    if (!m_tlsFolder.isValid() || !openssl.waitForFinished(15000) ||
        openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        qWarning("openssl made no certificate: %s", openssl.readAll().constData());
        return {};
    }
    m_certificateFile = certificate;
    return {u"--cert"_s, certificate, u"--key"_s, key};
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
