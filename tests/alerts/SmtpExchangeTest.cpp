#include "alerts/MessageEditor.h"
#include "alerts/MessageTemplate.h"
#include "alerts/SmtpServer.h"
#include "base/Error.h"

#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SmtpPeer.h"

#include <QJsonArray>
#include <QMutex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

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

    static MailRequest requestTo(const SmtpPeer& peer) { return requestTo(peer.portText()); }
    static MailRequest requestTo(const QString& port) {
        MailRequest r;
        r.Texto_cuerpo = u"falla de lectura"_s;
        r.From_text = u"Estacion <estacion@example.test>"_s;
        r.To_text = u"supervisor@example.test\r\nmantenimiento@example.test\r\n"_s;
        r.Replay_to = u"responder@example.test"_s;
        r.Asunto = u"Fallas de lectura"_s;
        r.smptuser_name = u"estacion"_s;
        r.smptpassword = u"q815027394"_s;
        r.smpt_server_name = u"127.0.0.1"_s;
        r.smpt_server_port = port;
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

TEST_F(SmtpExchange, AlertsWaitInTheirOrderAndBeyondAHundredTheOldestAreDropped) {
    SmtpPeer peer(u"no-auth"_s);
    ASSERT_TRUE(peer.started());
    QList<qint64> told;
    QObject::connect(&editor, &alerts::MessageEditor::alertsDropped, &editor,
                     [&](qint64 count) { told << count; });
    const auto post = [&](int first, int count) {
        MailRequest r = requestTo(peer);
        for (int i = first; i < first + count; ++i) {
            r.Asunto = u"Alerta %1"_s.arg(i);
            editor.enviar_mensaje(r);
        }
    };
    const auto subjects = [&] {
        static const QRegularExpression subject(u"\r\nSubject: Alerta (\\d+)\r\n"_s);
        QList<int> numbers;
        for (const QJsonObject& message : peer.events(u"message"_s))
            numbers << subject.match(message[u"data"_s].toString()).captured(1).toInt();
        return numbers;
    };

    // A real event loop: qWaitFor's pauses between rounds would make these 200 exchanges crawl.
    QSignalSpy drained(&editor, &alerts::MessageEditor::drained);

    // One in flight, a hundred waiting: the three after them push the three oldest waiting out,
    // and the operator hears of it once.
    post(1, 104);
    ASSERT_TRUE(drained.wait(60000));
    QList<int> expected{1};
    for (int i = 5; i <= 104; ++i)
        expected << i;
    ASSERT_TRUE(peer.waitFor(u"message"_s, expected.size()));
    EXPECT_EQ(subjects(), expected);
    EXPECT_EQ(told, QList<qint64>{3});
    EXPECT_EQ(outcomes.size(), expected.size());
    EXPECT_EQ(outcomes.count({MailOutbox::Kind::Alert, QString()}), expected.size()) << "every one sent";

    // The queue has drained since: the next overflow is a burst of its own.
    post(105, 102);
    ASSERT_TRUE(drained.wait(60000));
    EXPECT_EQ(told, (QList<qint64>{3, 1}));
    EXPECT_EQ(editor.outbox().dropped(), 4u);
}

TEST_F(SmtpExchange, WaitingAlertsAreBoundedByTheirSizeToo) {
    SmtpPeer silent(u"silent"_s);
    ASSERT_TRUE(silent.started());
    const MailRequest r = requestTo(silent);
    // Mails of a mebibyte (a large template): a few of them are all the memory the queue may take.
    const alerts::MailMessage big =
        alerts::MailMessage::compose(r, {QString(1024 * 1024, u'x')}, {}, clock.now());
    MailOutbox outbox;
    constexpr int kPosted = 40;
    for (int i = 0; i < kPosted; ++i)
        outbox.post(MailOutbox::Kind::Alert, alerts::SmtpServer::fromRequest(r), big);
    const qsizetype waiting = outbox.waitingAlerts();
    EXPECT_LE(waiting * big.content().size(), MailOutbox::kMaxWaitingBytes);
    EXPECT_GT((waiting + 1) * big.content().size(), MailOutbox::kMaxWaitingBytes);
    EXPECT_EQ(outbox.dropped(), quint64(kPosted - 1 - waiting));
}

TEST_F(SmtpExchange, LongHeadersAreFoldedAndTheServerTakesTheMail) {
    SmtpPeer peer(u"no-auth"_s);
    ASSERT_TRUE(peer.started());
    MailRequest r = requestTo(peer);
    QStringList words;
    for (int i = 0; i < 12000; ++i)
        words << u"falla%1"_s.arg(i);
    r.Asunto = words.join(u' ');
    r.From_text = QString(3000, u'E') + u" <estacion@example.test>"_s;
    r.Replay_to = words.mid(0, 500).join(u' ') + u" <responder@example.test>"_s;
    editor.enviar_mensaje(r);
    EXPECT_EQ(nextOutcome(), QString());
    ASSERT_TRUE(peer.waitFor(u"message"_s));
    const QString data = peer.events(u"message"_s).first()[u"data"_s].toString();
    for (const QString& line : data.split(u"\r\n"_s))
        EXPECT_LE(line.size(), 998);
}

// A server that misbehaves where the real one cannot be made to: it trickles a greeting that never
// ends, or greets and then answers nothing.
class MisbehavingPeer final : public QObject {
public:
    enum class Mode { TrickledGreeting, MuteAfterGreeting };

    explicit MisbehavingPeer(Mode mode) {
        m_server.listen(QHostAddress::LocalHost, 0);
        m_trickle.setInterval(20ms);
        connect(&m_trickle, &QTimer::timeout, this, [this] {
            m_client->write("x");
            ++m_trickled;
        });
        connect(&m_server, &QTcpServer::newConnection, this, [this, mode] {
            m_client = m_server.nextPendingConnection();
            connect(m_client, &QTcpSocket::readyRead, this, [this] { m_received += m_client->readAll(); });
            if (mode == Mode::MuteAfterGreeting) {
                m_client->write("220 lento\r\n");
            } else {
                m_client->write("220-");
                m_trickle.start();
            }
        });
    }

    QString portText() const { return QString::number(m_server.serverPort()); }
    const QByteArray& received() const { return m_received; }
    int trickled() const { return m_trickled; }

private:
    QTcpServer m_server;
    QTimer m_trickle;
    QTcpSocket* m_client = nullptr; // the server's child
    QByteArray m_received;
    int m_trickled = 0;
};

// Qt's warnings, from every thread, while it lives.
class WarningCatcher final {
public:
    WarningCatcher() { m_previous = qInstallMessageHandler(&WarningCatcher::handle); }
    ~WarningCatcher() {
        qInstallMessageHandler(m_previous);
        const QMutexLocker lock(&s_mutex);
        s_caught.clear();
    }
    Q_DISABLE_COPY_MOVE(WarningCatcher)

    QStringList caught() const {
        const QMutexLocker lock(&s_mutex);
        return s_caught;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        const QMutexLocker lock(&s_mutex);
        s_caught << text;
    }

    static inline QMutex s_mutex;
    static inline QStringList s_caught;
    QtMessageHandler m_previous = nullptr;
};

enum class Misbehaviour { Silent, TrickledGreeting, SlowEhloAnswer };

struct InFlightCase {
    const char* name;
    Misbehaviour misbehaviour;
};

class InFlightAtTheClose : public SmtpExchange, public ::testing::WithParamInterface<InFlightCase> {};

// The station's close on the core's own thread: the mail in flight is aborted, the thread ends soon
// after and the core is deleted from another one. The outcome must be out before the thread ends,
// and nothing of the client may still run then.
TEST_P(InFlightAtTheClose, IsEndedOnItsOwnThreadAndItsOutcomeTold) {
    const QString why = u"La estación se cerró antes de terminar el envío del correo"_s;
    std::unique_ptr<SmtpPeer> silent;
    std::unique_ptr<MisbehavingPeer> fake;
    std::function<bool()> inFlight;
    QString port;
    switch (GetParam().misbehaviour) {
    case Misbehaviour::Silent:
        silent = std::make_unique<SmtpPeer>(u"silent"_s);
        ASSERT_TRUE(silent->started());
        port = silent->portText();
        inFlight = [&] { return !silent->events(u"connect"_s).isEmpty(); };
        break;
    case Misbehaviour::TrickledGreeting:
        fake = std::make_unique<MisbehavingPeer>(MisbehavingPeer::Mode::TrickledGreeting);
        port = fake->portText();
        inFlight = [&] { return fake->trickled() >= 5; };
        break;
    case Misbehaviour::SlowEhloAnswer:
        fake = std::make_unique<MisbehavingPeer>(MisbehavingPeer::Mode::MuteAfterGreeting);
        port = fake->portText();
        inFlight = [&] { return fake->received().startsWith("EHLO "); };
        break;
    }
    const MailRequest r = requestTo(port);

    const WarningCatcher warnings;
    QThread coreThread;
    auto core = std::make_unique<alerts::MessageEditor>(clock, QLocale::c());
    struct Joined {
        QThread& thread;
        ~Joined() {
            thread.quit();
            thread.wait();
        }
    } joined{coreThread};
    QStringList told; // written on the core's thread, read once it has ended
    QObject::connect(
        core.get(), &alerts::MessageEditor::sendFinished, core.get(),
        [&](MailOutbox::Kind, const QString& error) { told << error; }, Qt::DirectConnection);
    core->moveToThread(&coreThread);
    coreThread.start();
    QMetaObject::invokeMethod(
        core.get(), [&] { core->enviar_mensaje(r); }, Qt::BlockingQueuedConnection);
    ASSERT_TRUE(QTest::qWaitFor(inFlight, 10000));

    QMetaObject::invokeMethod(
        core.get(),
        [&] {
            core->abortAll(why);
            QThread::currentThread()->quit();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(coreThread.wait(10000));
    core.reset();

    EXPECT_EQ(told, QStringList{why});
    EXPECT_TRUE(warnings.caught().isEmpty()) << qPrintable(warnings.caught().join(u'\n'));
}

INSTANTIATE_TEST_SUITE_P(Servers, InFlightAtTheClose,
                         ::testing::Values(InFlightCase{"Silent", Misbehaviour::Silent},
                                           InFlightCase{"TrickledGreeting", Misbehaviour::TrickledGreeting},
                                           InFlightCase{"SlowEhloAnswer", Misbehaviour::SlowEhloAnswer}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
