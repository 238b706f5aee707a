#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A real SMTP server process for the tests (tests/support/smtp_peer.py on Debian's aiosmtpd),
// listening on a free loopback port. Its mode says how it behaves; what it saw comes back as
// events: "ehlo", "helo", "auth", "mail", "rcpt", "message" (with "tls": whether it came
// encrypted), "quit" and "connect". The "starttls" mode serves a self-signed certificate for
// 127.0.0.1 made for it (by `openssl req -x509`).
class SmtpPeer final {
public:
    explicit SmtpPeer(const QString& mode);
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    bool started() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(m_port); }
    // The certificate (PEM) of the "starttls" mode, empty in the others.
    const QString& certificateFile() const { return m_certificateFile; }

    // Everything seen so far, of one kind.
    QList<QJsonObject> events(const QString& kind);
    // Waits, serving the test thread's event loop, until `count` events of the kind were seen.
    bool waitFor(const QString& kind, qsizetype count = 1, int timeoutMs = 10000);

private:
    void readEvents();
    // A self-signed certificate and its key in m_tlsFolder; the arguments that hand them to the
    // peer, none when openssl failed (the peer then does not start).
    QStringList makeCertificate();

    QTemporaryDir m_tlsFolder;
    QString m_certificateFile;
    QProcess m_process;
    QByteArray m_pending;
    QList<QJsonObject> m_events;
    quint16 m_port = 0;
};

} // namespace testsupport
