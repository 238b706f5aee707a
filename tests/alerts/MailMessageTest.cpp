#include "alerts/MailMessage.h"
#include "alerts/MailError.h"
#include "alerts/SmtpServer.h"
#include "tests/support/QtPrinters.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using alerts::MailMessage;
using alerts::MailPriority;
using alerts::MailRequest;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

const QDateTime kNow(QDate(2026, 12, 10), QTime(13, 4, 5), QTimeZone(-6 * 3600));

MailRequest request() {
    MailRequest r;
    r.From_text = u"Estación 1 <estacion@example.test>"_s;
    r.To_text = u"uno@example.test\r\ndos@example.test; tres@example.test\r\n"_s;
    r.Replay_to = u"responder@example.test"_s;
    r.Asunto = u"Fallas de lectura"_s;
    r.smpt_server_name = u"localhost"_s;
    r.smpt_server_port = u"25"_s;
    return r;
}

QByteArray headers(const MailMessage& m) {
    return m.content().first(m.content().indexOf("\r\n\r\n") + 2);
}

QByteArray body(const MailMessage& m) {
    return m.content().sliced(m.content().indexOf("\r\n\r\n") + 4);
}

TEST(MailMessage, EnvelopeAndHeadersOfAnAlert) {
    const MailMessage m = MailMessage::compose(request(), {u"<p>Aplicación</p>"_s}, {}, kNow);
    EXPECT_EQ(m.sender(), u"estacion@example.test"_s);
    EXPECT_EQ(m.recipients(),
              (QStringList{u"uno@example.test"_s, u"dos@example.test"_s, u"tres@example.test"_s}));
    const QByteArray h = headers(m);
    EXPECT_TRUE(h.startsWith("From: =?UTF-8?B?" + u"Estación 1"_s.toUtf8().toBase64() +
                             "?= <estacion@example.test>\r\n"))
        << h.constData();
    EXPECT_TRUE(h.contains("To: uno@example.test, dos@example.test, tres@example.test\r\n")) << h.constData();
    EXPECT_TRUE(h.contains("Subject: Fallas de lectura\r\n"));
    EXPECT_TRUE(h.contains("Reply-To: responder@example.test\r\n"));
    EXPECT_TRUE(h.contains("Organization: OrvaneDB\r\n"));
    EXPECT_TRUE(h.contains("Date: Thu, 10 Dec 2026 13:04:05 -0600\r\n"));
    EXPECT_TRUE(h.contains("MIME-Version: 1.0\r\n"));
    EXPECT_TRUE(h.contains("Content-Type: text/html; charset=us-ascii\r\n"));
    for (const char* absent : {"Cc:", "Bcc:", "Message-ID:", "X-Mailer:", "Return-Receipt-To:"})
        EXPECT_FALSE(h.contains(absent)) << absent;
    EXPECT_EQ(body(m), "<p>Aplicaci&#243;n</p>\r\n");
}

TEST(MailMessage, BlindCopiesAreRecipientsButInNoHeader) {
    const MailMessage m =
        MailMessage::compose(request(), {}, {MailPriority::High, false, u"oculto@example.test"_s}, kNow);
    EXPECT_EQ(m.recipients().last(), u"oculto@example.test"_s);
    EXPECT_FALSE(m.content().contains("oculto"));
}

TEST(MailMessage, ReceiptHeadersCarryTheSenderAddress) {
    const QByteArray h = headers(MailMessage::compose(request(), {}, {MailPriority::High, true, {}}, kNow));
    EXPECT_TRUE(h.contains("Disposition-Notification-To: <estacion@example.test>\r\n")) << h.constData();
    EXPECT_TRUE(h.contains("Return-Receipt-To: <estacion@example.test>\r\n")) << h.constData();
}

struct PriorityCase {
    MailPriority priority;
    const char* expected; // the three headers, or empty for none
};

class Priority : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(Priority, SetsItsThreeHeaders) {
    const QByteArray h = headers(MailMessage::compose(request(), {}, {GetParam().priority, false, {}}, kNow));
    const QByteArray expected = GetParam().expected;
    if (expected.isEmpty()) {
        for (const char* name : {"Priority:", "Importance:"})
            EXPECT_FALSE(h.contains(name)) << name;
    } else {
        EXPECT_TRUE(h.contains(expected)) << h.constData();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, Priority,
    ::testing::Values(
        PriorityCase{MailPriority::Highest, "Priority: urgent\r\nX-Priority: 1\r\nImportance: high\r\n"},
        PriorityCase{MailPriority::High, "Priority: urgent\r\nX-Priority: 2\r\nImportance: high\r\n"},
        PriorityCase{MailPriority::Normal, ""},
        PriorityCase{MailPriority::Low, "Priority: non-urgent\r\nX-Priority: 4\r\nImportance: low\r\n"},
        PriorityCase{MailPriority::Lowest, "Priority: non-urgent\r\nX-Priority: 5\r\nImportance: low\r\n"}),
    [](const auto& info) { return alerts::priorityName(info.param.priority).toStdString(); });

// What a setting or a device could smuggle into the headers is refused before anything is sent.
struct RefusedCase {
    const char* name;
    void (*spoil)(MailRequest&);
    const char* why;
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, BeforeAnythingIsSent) {
    MailRequest r = request();
    GetParam().spoil(r);
    EXPECT_THAT([&] { MailMessage::compose(r, {}, {}, kNow); },
                ThrowsMessage<alerts::MailError>(HasSubstr(GetParam().why)));
}

INSTANTIATE_TEST_SUITE_P(
    Injections, Refused,
    ::testing::Values(
        RefusedCase{"SubjectWithCrLf",
                    [](MailRequest& r) { r.Asunto = u"Fallas\r\nBcc: intruso@example.test"_s; },
                    "el asunto contiene un salto de línea"},
        RefusedCase{"SubjectWithLf", [](MailRequest& r) { r.Asunto = u"Fallas\nX: y"_s; },
                    "el asunto contiene un salto de línea"},
        RefusedCase{"SenderWithCr", [](MailRequest& r) { r.From_text = u"a@example.test\rRCPT TO:<x@y>"_s; },
                    "el remitente contiene un salto de línea"},
        RefusedCase{"ReplyToWithLf",
                    [](MailRequest& r) { r.Replay_to = u"a@example.test\nBcc: b@example.test"_s; },
                    "la dirección de respuesta contiene un salto de línea"},
        RefusedCase{"RecipientWithNul", [](MailRequest& r) { r.To_text = u"a@example.test\0b"_s; },
                    "los destinatarios contiene un carácter nulo"},
        RefusedCase{"RecipientWithBlank", [](MailRequest& r) { r.To_text = u"a b@example.test"_s; },
                    "dirección no válida en los destinatarios: 'a b@example.test'"},
        RefusedCase{"RecipientWithBracket", [](MailRequest& r) { r.To_text = u"x <a>@example.test>"_s; },
                    "dirección no válida en los destinatarios"},
        RefusedCase{"TwoSenders", [](MailRequest& r) { r.From_text = u"a@example.test, b@example.test"_s; },
                    "el remitente debe ser una sola dirección"},
        RefusedCase{"NoRecipient", [](MailRequest& r) { r.To_text = u" ;\r\n"_s; },
                    "la lista de destinatarios está vacía"},
        // Raw 8-bit text in a mail that says it is US-ASCII.
        RefusedCase{"SenderWithTextAfterTheAddress",
                    [](MailRequest& r) { r.From_text = u"Jefe Ñ <jefe@example.org> ñ"_s; },
                    "texto después de la dirección en el remitente: 'Jefe Ñ <jefe@example.org> ñ'"},
        RefusedCase{"RecipientWithTextAfterTheAddress",
                    [](MailRequest& r) { r.To_text = u"Jefe <jefe@example.org> planta 2"_s; },
                    "texto después de la dirección en los destinatarios"},
        RefusedCase{"ReplyToWithASecondAddressInTheName",
                    [](MailRequest& r) { r.Replay_to = u"<a@example.test> <b@example.test>"_s; },
                    "dirección no válida en la dirección de respuesta"},
        // [rfc5321] 4.5.3.1.3: a path holds at most 256 octets, the angle brackets included.
        RefusedCase{"AddressLongerThanSmtpAllows",
                    [](MailRequest& r) { r.To_text = QString(243, u'a') + u"@example.test"_s; },
                    "dirección no válida en los destinatarios"}),
    [](const auto& info) { return std::string(info.param.name); });

// A header's value as a reader gets it: unfolded ([rfc5322] 2.2.3), its encoded-words decoded and
// the blanks between two adjacent ones dropped ([rfc2047] 6.2).
QString fieldValue(const QByteArray& headers, const QByteArray& name) {
    const QByteArray all = "\r\n" + headers;
    const qsizetype start = all.indexOf("\r\n" + name + ": ");
    if (start < 0)
        return u"<no %1>"_s.arg(QString::fromLatin1(name));
    QByteArray value;
    for (qsizetype i = start + name.size() + 4; i < all.size(); ++i) {
        if (all[i] == '\r' && (i + 2 >= all.size() || (all[i + 2] != ' ' && all[i + 2] != '\t')))
            break;
        if (all[i] != '\r' && all[i] != '\n')
            value += all[i];
    }
    static const QRegularExpression word(u"=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?="_s);
    QString text;
    qsizetype at = 0;
    bool afterWord = false;
    for (const QRegularExpressionMatch& m : word.globalMatch(QString::fromLatin1(value))) {
        const QString between = QString::fromLatin1(value.sliced(at, m.capturedStart() - at));
        if (!(afterWord && between.trimmed().isEmpty()))
            text += between;
        text += QString::fromUtf8(QByteArray::fromBase64(m.captured(1).toLatin1()));
        at = m.capturedEnd();
        afterWord = true;
    }
    return text + QString::fromLatin1(value.sliced(at));
}

// Settings that make a header long: it still reaches the server ([rfc5322] 2.1.1: 998 octets a
// line at most, 78 should be), and reads back as it was set.
struct LongHeaderCase {
    const char* name;
    void (*lengthen)(MailRequest&);
    const char* header;
    QString (*expected)(const MailRequest&);
};

class LongHeader : public ::testing::TestWithParam<LongHeaderCase> {};

TEST_P(LongHeader, IsFoldedIntoLinesOfAtMost78OctetsAndReadsBackTheSame) {
    MailRequest r = request();
    GetParam().lengthen(r);
    const QByteArray h = headers(MailMessage::compose(r, {}, {}, kNow));
    for (const QByteArray& line : h.first(h.size() - 2).split('\n')) {
        EXPECT_LE(line.size(), 79) << "78 octets and the CR: " << line.left(60).constData();
        EXPECT_FALSE(line.trimmed().isEmpty()) << "a line of blanks alone would end the headers";
        for (const char c : line)
            ASSERT_GT(c, 0) << line.left(60).constData();
    }
    EXPECT_EQ(fieldValue(h, GetParam().header), GetParam().expected(r));
}

QString words(int count, QStringView word) {
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << word.toString() + QString::number(i);
    return list.join(u' ');
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LongHeader,
    ::testing::Values(
        LongHeaderCase{"SubjectOfManyWords", [](MailRequest& r) { r.Asunto = words(10000, u"falla"); },
                       "Subject", [](const MailRequest& r) { return r.Asunto; }},
        LongHeaderCase{"SubjectOfBlanksAndTabs",
                       [](MailRequest& r) { r.Asunto = u"  a"_s + QString(300, u' ') + u"b\tc\t  "_s; },
                       "Subject", [](const MailRequest& r) { return r.Asunto; }},
        LongHeaderCase{"SubjectOfOneLongWord", [](MailRequest& r) { r.Asunto = QString(3000, u'x'); },
                       "Subject", [](const MailRequest& r) { return r.Asunto; }},
        LongHeaderCase{"SubjectOfLongNonAsciiWords",
                       [](MailRequest& r) { r.Asunto = words(300, u"Estación_de_lectura_número_"); },
                       "Subject", [](const MailRequest& r) { return r.Asunto; }},
        LongHeaderCase{
            "SenderName",
            [](MailRequest& r) { r.From_text = words(500, u"Estacion") + u" <estacion@example.test>"_s; },
            "From", [](const MailRequest& r) { return r.From_text; }},
        LongHeaderCase{
            "ReplyToName",
            [](MailRequest& r) { r.Replay_to = QString(2000, u'R') + u" <responder@example.test>"_s; },
            "Reply-To", [](const MailRequest& r) { return r.Replay_to; }},
        LongHeaderCase{"ManyRecipients",
                       [](MailRequest& r) {
                           r.To_text = words(300, u"destinatario").replace(u' ', u"@example.test;"_s) +
                                       u"@example.test"_s;
                       },
                       "To", [](const MailRequest& r) { return r.To_text.split(u';').join(u", "_s); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailMessage, NonAsciiSubjectIsEncodedInWordsOfAtMost75Characters) {
    MailRequest r = request();
    r.Asunto = QString(40, u'ñ');
    const QByteArray h = headers(MailMessage::compose(r, {}, {}, kNow));
    const qsizetype start = h.indexOf("Subject: ") + 9;
    const QByteArray subject = h.sliced(start, h.indexOf("\r\nReply-To:") - start);
    QString decoded;
    for (QByteArray word : subject.split('\n')) {
        word = word.trimmed();
        ASSERT_TRUE(word.startsWith("=?UTF-8?B?") && word.endsWith("?=")) << word.constData();
        EXPECT_LE(word.size(), 75);
        decoded += QString::fromUtf8(QByteArray::fromBase64(word.sliced(10, word.size() - 12)));
    }
    EXPECT_EQ(decoded, r.Asunto);
}

TEST(MailMessage, BodyIsSevenBitWithLinesOfAtMost998Octets) {
    const QString longLine = QString(700, u'x') + u' ' + QString(700, u'y') + u" \U0001F600\u0007"_s;
    const QString unbroken = QString(2000, u'z');
    const MailMessage m = MailMessage::compose(request(), {longLine, unbroken}, {}, kNow);
    const QList<QByteArray> lines = body(m).split('\n');
    for (const QByteArray& line : lines) {
        EXPECT_LE(line.size(), 999) << "998 octets and the CR";
        for (const char c : line)
            EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80) << line.left(40).constData();
    }
    EXPECT_EQ(lines[0], QByteArray(700, 'x') + '\r');
    EXPECT_EQ(lines[1], QByteArray(700, 'y') + " &#128512;&#65533;\r");
    EXPECT_EQ(lines[2].size() + lines[3].size() + lines[4].size(), 2000 + 3);
}

struct PortCase {
    const char* name;
    const char16_t* text;
    int port;        // 0: refused
    const char* why; // a part of the refusal
};

class ServerPort : public ::testing::TestWithParam<PortCase> {};

TEST_P(ServerPort, IsAWholeNumberFrom1To65535) {
    MailRequest r = request();
    r.smpt_server_port = QString::fromUtf16(GetParam().text);
    if (GetParam().port == 0) {
        EXPECT_THAT([&] { alerts::SmtpServer::fromRequest(r); },
                    ThrowsMessage<base::Error>(HasSubstr(GetParam().why)));
    } else {
        EXPECT_EQ(alerts::SmtpServer::fromRequest(r).port, GetParam().port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ServerPort,
    ::testing::Values(PortCase{"Default", u"25", 25, ""}, PortCase{"Submission", u"587", 587, ""},
                      PortCase{"Highest", u"65535", 65535, ""},
                      PortCase{"Letter", u"25a", 0, "'25a' is not a valid integer value"},
                      PortCase{"Empty", u"", 0, "'' is not a valid integer value"},
                      PortCase{"Zero", u"0", 0, "entre 1 y 65535, no '0'"},
                      PortCase{"Negative", u"-25", 0, "entre 1 y 65535"},
                      PortCase{"TooBig", u"65561", 0, "entre 1 y 65535"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
