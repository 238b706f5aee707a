#include "alerts/MessageEditor.h"

#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SmtpPeer.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using alerts::MailOutbox;
using alerts::MailRequest;
using testsupport::SmtpPeer;

namespace {

// Sits between the station and the SMTP server on loopback and keeps every byte that crosses it,
// both ways: what a listener on the wire would see. It can also play a server that offers STARTTLS
// and then botches it, answering the STARTTLS itself instead of passing it on.
class RecordingRelay final : public QObject {
public:
    enum class Botch {
        None,
        Refused,       // 454 to STARTTLS
        GarbageForTls, // 220, then clear text where the server's TLS hello belongs
        ClosedAfterOk, // 220, then the connection goes at the client's TLS hello
        SilentAfterOk, // 220, then nothing
    };

    RecordingRelay(quint16 serverPort, Botch botch)
        : m_serverPort(serverPort)
        , m_botch(botch) {
        m_listener.listen(QHostAddress::LocalHost, 0);
        connect(&m_listener, &QTcpServer::newConnection, this, &RecordingRelay::accept);
    }

    QString portText() const { return QString::number(m_listener.serverPort()); }
    const QByteArray& fromClient() const { return m_fromClient; }
    const QByteArray& fromServer() const { return m_fromServer; }
    // What the client sent after its STARTTLS line; empty when it sent none.
    QByteArray afterStartTls() const {
        const qsizetype at = m_fromClient.indexOf("STARTTLS\r\n");
        return at < 0 ? QByteArray() : m_fromClient.sliced(at + 10);
    }

private:
    void accept() {
        m_client = m_listener.nextPendingConnection();
        // Written before the connection is up, it waits in the socket's buffer.
        m_server.connectToHost(QHostAddress::LocalHost, m_serverPort);
        connect(m_client, &QTcpSocket::readyRead, this, &RecordingRelay::fromTheClient);
        connect(m_client, &QTcpSocket::disconnected, &m_server, &QTcpSocket::disconnectFromHost);
        connect(&m_server, &QTcpSocket::readyRead, this, [this] {
            const QByteArray bytes = m_server.readAll();
            m_fromServer += bytes;
            m_client->write(bytes);
        });
        connect(&m_server, &QTcpSocket::disconnected, m_client, &QTcpSocket::disconnectFromHost);
    }

    void fromTheClient() {
        const QByteArray bytes = m_client->readAll();
        m_fromClient += bytes;
        if (m_botch == Botch::None || !m_fromClient.contains("STARTTLS\r\n")) {
            m_server.write(bytes);
            return;
        }
        // The server never hears of STARTTLS: the botch is the relay's own.
        if (m_answered) {
            if (std::exchange(m_helloSeen, true))
                return;
            if (m_botch == Botch::GarbageForTls)
                m_client->write("HTTP/1.1 400 Bad Request\r\n\r\n");
            else if (m_botch == Botch::ClosedAfterOk)
                m_client->disconnectFromHost();
            return;
        }
        m_answered = true;
        m_client->write(m_botch == Botch::Refused ? "454 4.7.0 TLS no disponible\r\n"
                                                  : "220 2.0.0 adelante\r\n");
    }

    QTcpSocket m_server;
    QTcpServer m_listener;          // goes first, and the client's side with it
    QTcpSocket* m_client = nullptr; // the listener's child
    const quint16 m_serverPort;
    const Botch m_botch;
    bool m_answered = false;
    bool m_helloSeen = false;
    QByteArray m_fromClient;
    QByteArray m_fromServer;
};

// The system's store with one more authority in it, while it lives.
class TrustedForTheTest final {
public:
    explicit TrustedForTheTest(const QString& certificateFile)
        : m_saved(QSslConfiguration::defaultConfiguration()) {
        QSslConfiguration trusting = m_saved;
        trusting.addCaCertificates(QSslCertificate::fromPath(certificateFile));
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ~TrustedForTheTest() { QSslConfiguration::setDefaultConfiguration(m_saved); }
    Q_DISABLE_COPY_MOVE(TrustedForTheTest)

private:
    const QSslConfiguration m_saved;
};

constexpr char16_t kPassword[] = u"q815027394";

struct Outcome {
    QString error;
    QString note;
};

// Alert mails from the editor to a real aiosmtpd that wants STARTTLS before AUTH, through the relay.
class SmtpTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.started()) << "openssl and python3-aiosmtpd are needed";
        QObject::connect(&editor.outbox(), &MailOutbox::finished, &editor,
                         [this](MailOutbox::Kind, const QString& error, const QString& note) {
                             outcomes.append({error, note});
                         });
    }

    static MailRequest requestTo(const QString& port) {
        MailRequest r;
        r.Texto_cuerpo = u"falla de lectura"_s;
        r.From_text = u"estacion@example.test"_s;
        r.To_text = u"supervisor@example.test"_s;
        r.Asunto = u"Fallas de lectura"_s;
        r.smptuser_name = u"estacion"_s;
        r.smptpassword = QString::fromUtf16(kPassword);
        r.smpt_server_name = u"127.0.0.1"_s;
        r.smpt_server_port = port;
        return r;
    }

    Outcome send(const RecordingRelay& relay) {
        editor.enviar_mensaje(requestTo(relay.portText()));
        if (!QTest::qWaitFor([&] { return !outcomes.isEmpty() && editor.idle(); }, 15000))
            return {u"<no outcome>"_s, {}};
        return outcomes.takeFirst();
    }

    // The secret in every form it could take on the wire.
    static void expectNoSecretIn(const QByteArray& bytes) {
        const QByteArray password = QString::fromUtf16(kPassword).toUtf8();
        EXPECT_FALSE(bytes.contains(password));
        EXPECT_FALSE(bytes.contains(password.toBase64()));
        EXPECT_FALSE(bytes.contains(password.toBase64(QByteArray::OmitTrailingEquals)));
    }

    SmtpPeer peer{u"starttls"_s};
    FakeClock clock{QDateTime(QDate(2026, 12, 10), QTime(9, 30, 15))};
    alerts::MessageEditor editor{clock, QLocale::c()};
    QList<Outcome> outcomes;
};

TEST_F(SmtpTls, TheMailGoesEncryptedAndAuthenticatedAndNoSecretCrossesInClear) {
    for (const bool trusted : {false, true}) {
        SCOPED_TRACE(trusted ? "certificate trusted" : "self-signed certificate");
        std::optional<TrustedForTheTest> trust;
        if (trusted)
            trust.emplace(peer.certificateFile());
        const qsizetype before = peer.events(u"message"_s).size();
        RecordingRelay relay(peer.port(), RecordingRelay::Botch::None);

        const Outcome outcome = send(relay);
        EXPECT_EQ(outcome.error, QString());
        if (trusted) {
            EXPECT_EQ(outcome.note, QString());
        } else {
            EXPECT_TRUE(outcome.note.startsWith(
                u"con cifrado, pero el certificado del servidor no se pudo verificar: "_s))
                << qPrintable(outcome.note);
            EXPECT_TRUE(outcome.note.contains(u"self-signed"_s)) << qPrintable(outcome.note);
        }

        ASSERT_TRUE(peer.waitFor(u"message"_s, before + 1));
        const QJsonObject message = peer.events(u"message"_s).last();
        EXPECT_TRUE(message[u"tls"_s].toBool());
        EXPECT_EQ(message[u"login"_s].toString(), u"estacion"_s);
        EXPECT_EQ(peer.events(u"auth"_s).last()[u"password"_s].toString(), QString::fromUtf16(kPassword));

        // In clear: the greeting, the first EHLO and STARTTLS; after it only ciphertext.
        EXPECT_TRUE(relay.fromClient().startsWith("EHLO ")) << relay.fromClient().left(40).constData();
        EXPECT_FALSE(relay.afterStartTls().isEmpty());
        for (const char* word : {"AUTH", "MAIL FROM", "estacion", "Fallas de lectura"})
            EXPECT_FALSE(relay.fromClient().contains(word)) << word;
        expectNoSecretIn(relay.fromClient());
        expectNoSecretIn(relay.fromServer());
    }
}

struct BotchCase {
    const char* name;
    RecordingRelay::Botch botch;
    const char16_t* error; // a part of the reported error
    alerts::SmtpTimeouts timeouts;
};

class BotchedStartTls : public SmtpTls, public ::testing::WithParamInterface<BotchCase> {};

TEST_P(BotchedStartTls, FailsTheMailWithoutAuthenticatingInClear) {
    editor.setTimeouts(GetParam().timeouts);
    RecordingRelay relay(peer.port(), GetParam().botch);

    const Outcome outcome = send(relay);
    EXPECT_TRUE(outcome.error.contains(QString::fromUtf16(GetParam().error))) << qPrintable(outcome.error);
    EXPECT_EQ(outcome.note, QString());

    EXPECT_TRUE(relay.fromClient().contains("STARTTLS\r\n"));
    for (const char* word : {"AUTH", "MAIL FROM"})
        EXPECT_FALSE(relay.fromClient().contains(word)) << word;
    expectNoSecretIn(relay.fromClient());
    EXPECT_TRUE(peer.events(u"auth"_s).isEmpty());
    EXPECT_TRUE(peer.events(u"message"_s).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, BotchedStartTls,
    ::testing::Values(
        BotchCase{"Refused", RecordingRelay::Botch::Refused, u"rechazó STARTTLS: 454 4.7.0", {}},
        BotchCase{"ClearTextForTheHandshake",
                  RecordingRelay::Botch::GarbageForTls,
                  u"La negociación TLS con el servidor de correo falló",
                  {}},
        BotchCase{
            "ClosedAtTheHandshake", RecordingRelay::Botch::ClosedAfterOk, u"durante la negociación TLS", {}},
        BotchCase{"SilentAtTheHandshake",
                  RecordingRelay::Botch::SilentAfterOk,
                  u"no respondió en 2 s a la negociación TLS",
                  {10s, 2s, 60s}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
