#include "alerts/MessageEditor.h"
#include "alerts/MessageTemplate.h"
#include "base/Error.h"

#include "tests/support/FakeClock.h"
#include "tests/support/SmtpPeer.h"

#include <QJsonArray>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using alerts::MailOutbox;
using alerts::MailRequest;
using testsupport::SmtpPeer;

namespace {

// The alert editor sending to a real SMTP server process on loopback.
class SmtpExchange : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&editor, &alerts::MessageEditor::sendFinished, &editor,
                         [this](MailOutbox::Kind kind, const QString& error) {
                             outcomes.append({kind, error});
                         });
    }

    static MailRequest requestTo(const SmtpPeer& peer) {
        MailRequest r;
        r.Texto_cuerpo = u"falla de lectura"_s;
        r.From_text = u"Estacion <estacion@example.test>"_s;
        r.To_text = u"supervisor@example.test\r\nmantenimiento@example.test\r\n"_s;
        r.Replay_to = u"responder@example.test"_s;
        r.Asunto = u"Fallas de lectura"_s;
        r.smptuser_name = u"estacion"_s;
        r.smptpassword = u"q815027394"_s;
        r.smpt_server_name = u"127.0.0.1"_s;
        r.smpt_server_port = peer.portText();
        return r;
    }

    // The error of the next finished mail ("" when it was sent).
    QString nextOutcome() {
        const qsizetype seen = m_taken;
        if (!QTest::qWaitFor([&] { return outcomes.size() > seen; }, 15000))
            return u"<no outcome>"_s;
        return outcomes[m_taken++].second;
    }

    FakeClock clock{QDateTime(QDate(2026, 12, 10), QTime(9, 30, 15))};
    alerts::MessageEditor editor{clock, QLocale::c()};
    QList<std::pair<MailOutbox::Kind, QString>> outcomes;

private:
    qsizetype m_taken = 0;
};

TEST_F(SmtpExchange, TheAlertAsTheServerReceivesIt) {
    SmtpPeer peer(u"auth-login"_s);
    ASSERT_TRUE(peer.started());
    editor.setValues(u"045.5"_s, u"GUIA0001ZXWV0002TSRQ00"_s, u"0003|4.5|P01"_s);
    editor.enviar_mensaje(requestTo(peer));
    EXPECT_EQ(nextOutcome(), QString());
    ASSERT_TRUE(peer.waitFor(u"message"_s));
    const QJsonObject message = peer.events(u"message"_s).first();

    EXPECT_EQ(message[u"mail_from"_s].toString(), u"estacion@example.test"_s);
    EXPECT_EQ(peer.events(u"rcpt"_s).size(), 2);
    EXPECT_EQ(message[u"rcpt_tos"_s].toArray().size(), 2);
    EXPECT_EQ(message[u"login"_s].toString(), u"estacion"_s);
    const QList<QJsonObject> auth = peer.events(u"auth"_s);
    ASSERT_EQ(auth.size(), 1);
    EXPECT_EQ(auth[0][u"mechanism"_s].toString(), u"LOGIN"_s);
    EXPECT_EQ(auth[0][u"password"_s].toString(), u"q815027394"_s);
    EXPECT_TRUE(peer.waitFor(u"quit"_s));

    const QString data = message[u"data"_s].toString();
    const qsizetype split = data.indexOf(u"\r\n\r\n"_s);
    const QString headers = data.first(split + 2);
    for (const QString& header :
         {u"From: Estacion <estacion@example.test>\r\n"_s,
          u"To: supervisor@example.test, mantenimiento@example.test\r\n"_s,
          u"Subject: Fallas de lectura\r\n"_s, u"Reply-To: responder@example.test\r\n"_s,
          u"Date: Thu, 10 Dec 2026 09:30:15 "_s, u"Content-Type: text/html; charset=us-ascii\r\n"_s,
          u"X-Priority: 2\r\n"_s})
        EXPECT_TRUE(headers.contains(header)) << qPrintable(header) << qPrintable(headers);
    const QStringList lines = data.sliced(split + 4).split(u"\r\n"_s);
    EXPECT_TRUE(lines[0].startsWith(u"<!DOCTYPE"_s));
    EXPECT_TRUE(lines.contains(u"<br>falla de lectura"_s));
    EXPECT_TRUE(data.contains(u">045.5<"_s)) << qPrintable(data);
    EXPECT_TRUE(data.contains(u"Estaci&#243;n: GUIA0001ZXWV0002TSRQ00"_s));
    EXPECT_TRUE(data.contains(u"Usuario:0003|4.5|P01"_s));
    EXPECT_TRUE(data.contains(u"Fecha: "_s + alerts::MessageTemplate::fechaText(clock.now(), QLocale::c())));
    EXPECT_EQ(lines.last(), QString()) << "the data ends with a line end";
    EXPECT_EQ(lines[lines.size() - 2], u"<br>"_s);
}

struct AuthCase {
    const char* name;
    const char16_t* mode;
    const char16_t* user;
    bool authenticates;
};

class Authentication : public SmtpExchange, public ::testing::WithParamInterface<AuthCase> {};

TEST_P(Authentication, OnlyWithAUserAndLoginOffered) {
    SmtpPeer peer(QString::fromUtf16(GetParam().mode));
    ASSERT_TRUE(peer.started());
    MailRequest r = requestTo(peer);
    r.smptuser_name = QString::fromUtf16(GetParam().user);
    editor.enviar_mensaje(r);
    EXPECT_EQ(nextOutcome(), QString());
    ASSERT_TRUE(peer.waitFor(u"message"_s));
    EXPECT_EQ(peer.events(u"auth"_s).size(), GetParam().authenticates ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, Authentication,
                         ::testing::Values(AuthCase{"LoginOffered", u"auth-login", u"estacion", true},
                                           AuthCase{"LoginOfferedInTheOldForm", u"auth-login-eq", u"estacion",
                                                    true},
                                           AuthCase{"EmptyUserSkipsIt", u"auth-login", u"", false},
                                           AuthCase{"OnlyPlainOffered", u"plain-only", u"estacion", false},
                                           AuthCase{"NothingOffered", u"no-auth", u"estacion", false},
                                           AuthCase{"EhloRefusedHeloTaken", u"no-ehlo", u"estacion", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    const char16_t* mode;
    const char16_t* recipients;
    alerts::SmtpTimeouts timeouts;
    const char16_t* error; // a part of the reported error
    bool quitSent;
};

class Failure : public SmtpExchange, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, EndsTheMailWithAnErrorAndTheStationGoesOn) {
    SmtpPeer peer(QString::fromUtf16(GetParam().mode));
    ASSERT_TRUE(peer.started());
    editor.setTimeouts(GetParam().timeouts);
    MailRequest r = requestTo(peer);
    r.To_text = QString::fromUtf16(GetParam().recipients);
    editor.enviar_mensaje(r);
    const QString error = nextOutcome();
    EXPECT_TRUE(error.contains(QString::fromUtf16(GetParam().error))) << qPrintable(error);
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor.idle(); }, 5000));
    if (GetParam().quitSent) {
        EXPECT_TRUE(peer.waitFor(u"quit"_s));
    }
    EXPECT_TRUE(peer.events(u"message"_s).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, Failure,
    ::testing::Values(
        FailureCase{
            "NeverGreets", u"silent", u"a@example.test", {10s, 300ms, 60s}, u"no respondió en 0.3 s", false},
        FailureCase{"NeverGreetsPastTheWholeLimit",
                    u"silent",
                    u"a@example.test",
                    {10s, 30s, 300ms},
                    u"no terminó en 0.3 s",
                    false},
        FailureCase{
            "DropsTheConnectionAtMail", u"drop-at-mail", u"a@example.test", {}, u"cerró la conexión", false},
        FailureCase{"RejectsARecipient",
                    u"reject-rcpt",
                    u"a@example.test\r\nrechazo@example.test",
                    {},
                    u"rechazó RCPT TO:<rechazo@example.test>: 550",
                    true},
        FailureCase{"GreetsWithNoSmtpReply",
                    u"garbage",
                    u"a@example.test",
                    {},
                    u"Respuesta no válida del servidor de correo: HTTP/1.1 400",
                    true},
        FailureCase{
            "RefusesTheLogin", u"auth-refused", u"a@example.test", {}, u"rechazó la clave: 535", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SmtpExchange, NoServerOnThePortIsAnErrorToo) {
    MailRequest r;
    {
        SmtpPeer gone(u"no-auth"_s);
        ASSERT_TRUE(gone.started());
        r = requestTo(gone);
    }
    editor.enviar_mensaje(r);
    EXPECT_NE(nextOutcome(), QString());
}

TEST_F(SmtpExchange, APortThatIsNoNumberFailsBeforeAnyConnection) {
    SmtpPeer peer(u"no-auth"_s);
    ASSERT_TRUE(peer.started());
    MailRequest r = requestTo(peer);
    r.smpt_server_port = peer.portText() + u"x"_s;
    EXPECT_THAT([&] { editor.enviar_mensaje(r); },
                ::testing::ThrowsMessage<base::Error>(::testing::HasSubstr("is not a valid integer value")));
    EXPECT_TRUE(editor.idle()) << "nothing was handed to the client";
    EXPECT_TRUE(outcomes.isEmpty());
}

TEST_F(SmtpExchange, ALineHoldingADotArrivesIntact) {
    SmtpPeer peer(u"no-auth"_s);
    ASSERT_TRUE(peer.started());
    editor.setState({u".\n.fin"_s, alerts::MailPriority::Normal, false, {}});
    editor.enviar_mensaje(requestTo(peer));
    EXPECT_EQ(nextOutcome(), QString());
    ASSERT_TRUE(peer.waitFor(u"message"_s));
    const QString data = peer.events(u"message"_s).first()[u"data"_s].toString();
    EXPECT_TRUE(data.endsWith(u"\r\n\r\n.\r\n<br>.fin\r\n<br>\r\n"_s)) << qPrintable(data);
}

TEST_F(SmtpExchange, TestSendUsesItsBuiltInTexts) {
    SmtpPeer peer(u"auth-login"_s);
    ASSERT_TRUE(peer.started());
    MailRequest test = alerts::MessageEditor::builtInTestRequest();
    test.smpt_server_name = u"127.0.0.1"_s;
    test.smpt_server_port = peer.portText();
    editor.setTestRequest(test);
    editor.testSend();
    EXPECT_EQ(nextOutcome(), QString());
    EXPECT_EQ(outcomes.first().first, MailOutbox::Kind::Test);
    ASSERT_TRUE(peer.waitFor(u"message"_s));
    const QString data = peer.events(u"message"_s).first()[u"data"_s].toString();
    EXPECT_TRUE(data.contains(u"\r\nSubject: Test\r\n"_s));
    EXPECT_TRUE(data.contains(u"\r\n<br>Texto_cuerpo\r\n"_s));
    EXPECT_TRUE(peer.events(u"auth"_s).isEmpty()) << "the built-in user is empty";
}

TEST_F(SmtpExchange, ANewerAlertReplacesTheOneWaitingWhileAMailIsInFlight) {
    SmtpPeer peer(u"silent"_s);
    ASSERT_TRUE(peer.started());
    editor.setTimeouts({10s, 200ms, 60s});
    for (int i = 0; i < 4; ++i)
        editor.enviar_mensaje(requestTo(peer));
    EXPECT_EQ(editor.outbox().replaced(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor.idle(); }, 5000));
    EXPECT_EQ(outcomes.size(), 2) << "the first and the last";
    EXPECT_EQ(peer.events(u"connect"_s).size(), 2);
}

} // namespace
