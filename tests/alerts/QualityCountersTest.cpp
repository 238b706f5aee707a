#include "alerts/QualityCounters.h"

#include "alerts/AlertReport.h"
#include "alerts/MessageEditor.h"
#include "base/ErrorReport.h"
#include "config/Settings.h"
#include "station/LivePanel.h"

#include "tests/support/FakeClock.h"
#include "tests/support/FreePort.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SmtpPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace {

// One record's judged values: H, L, W as read and the guide as stored.
struct Reading {
    const char16_t* h;
    const char16_t* l;
    const char16_t* w;
    const char16_t* guide;
};

constexpr Reading kGood{u"012.5", u"030.0", u"045.5", u"GUIA0001ZXWV0002TSRQ00"};
constexpr Reading kNoDimensions{u"???", u"???", u"???", u"GUIA0001ZXWV0002TSRQ00"};
constexpr Reading kBadW{u"012.5", u"030.0", u"04?.5", u"GUIA0001ZXWV0002TSRQ00"};
constexpr Reading kBadGuide{u"012.5", u"030.0", u"045.5", u"??????????????????????"};
constexpr Reading kBadL{u"012.5", u"03?.0", u"045.5", u"GUIA0001ZXWV0002TSRQ00"};
constexpr Reading kBadLW{u"012.5", u"03?.0", u"04?.5", u"GUIA0001ZXWV0002TSRQ00"};
constexpr Reading kCapitalX{u"12X.5", u"30X.0", u"45X.5", u"GUIA0001ZXWV0002TSRQ00"};

// The evaluation on a real panel and settings, its alerts going to a real SMTP server.
class QualityFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_peer = std::make_unique<testsupport::SmtpPeer>(u"no-auth"_s); }
    static void TearDownTestSuite() { s_peer.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_peer->started());
        m_before = s_peer->events(u"message"_s).size();
        settings.setText(SettingId::EdMailserver, u"127.0.0.1"_s);
        settings.setText(SettingId::EdMailport, s_peer->portText());
    }

    // Evaluates one record and lets its alert, if any, reach the server.
    void evaluate(const Reading& r) {
        panel.setText(Field::LC128, QString::fromUtf16(r.guide));
        panel.setText(Field::lwww, QString::fromUtf16(r.w));
        quality.evaluar_calidad(QString::fromUtf16(r.h), QString::fromUtf16(r.l), QString::fromUtf16(r.w));
        ASSERT_TRUE(QTest::qWaitFor([this] { return editor.idle(); }, 10000));
    }

    qsizetype alertsReceived() const { return s_peer->events(u"message"_s).size() - m_before; }

    static std::unique_ptr<testsupport::SmtpPeer> s_peer;
    station::LivePanel panel;
    config::Settings settings;
    FakeClock clock;
    alerts::MessageEditor editor{clock, QLocale::c()};
    alerts::AlertReport report;
    alerts::QualityCounters quality{panel, settings, editor, report, QLocale::c()};

private:
    qsizetype m_before = 0;
};

std::unique_ptr<testsupport::SmtpPeer> QualityFixture::s_peer;

struct QualityCase {
    const char* name;
    QList<Reading> records;
    QList<std::pair<SettingId, QVariant>> settings;
    const char16_t* buenos;
    const char16_t* malos;
    const char16_t* calidad;
    std::array<const char16_t*, 4> counters; // lCHHH, lclll, LCwww, lcc128
    qsizetype alerts;
};

class Quality : public QualityFixture, public ::testing::WithParamInterface<QualityCase> {};

TEST_P(Quality, CountsAndAlerts) {
    const QualityCase& c = GetParam();
    for (const auto& [id, value] : c.settings)
        settings.setValue(id, value);
    for (const Reading& r : c.records)
        evaluate(r);
    EXPECT_EQ(panel.text(Field::Lbuenos), QString::fromUtf16(c.buenos));
    EXPECT_EQ(panel.text(Field::Lmalos), QString::fromUtf16(c.malos));
    EXPECT_EQ(panel.text(Field::Lcalidad), QString::fromUtf16(c.calidad));
    const Field counters[] = {Field::lCHHH, Field::lclll, Field::LCwww, Field::lcc128};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(panel.text(counters[i]), QString::fromUtf16(c.counters[i])) << i;
    EXPECT_EQ(alertsReceived(), c.alerts);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Quality,
    ::testing::Values(QualityCase{"AllRead", {kGood}, {}, u"4", u"0", u"100.00", {u"0", u"0", u"0", u"0"}, 0},
                      QualityCase{"NoDimensionsAlertsAtOnceForH",
                                  {kNoDimensions},
                                  {},
                                  u"1",
                                  u"3",
                                  u"25.00",
                                  {u"1", u"1", u"1", u"0"},
                                  1},
                      QualityCase{"FourFailedWStayQuiet",
                                  QList<Reading>(4, kBadW),
                                  {},
                                  u"12",
                                  u"4",
                                  u"75.00",
                                  {u"0", u"0", u"4", u"0"},
                                  0},
                      QualityCase{"FifthFailedWAlertsAndRestarts",
                                  QList<Reading>(5, kBadW),
                                  {},
                                  u"15",
                                  u"5",
                                  u"75.00",
                                  {u"0", u"0", u"0", u"0"},
                                  1},
                      QualityCase{"TenthFailedWAlertsAgain",
                                  QList<Reading>(10, kBadW),
                                  {},
                                  u"30",
                                  u"10",
                                  u"75.00",
                                  {u"0", u"0", u"0", u"0"},
                                  2},
                      QualityCase{"AGoodWEndsTheRun",
                                  {kBadW, kBadW, kBadW, kGood, kBadW},
                                  {},
                                  u"16",
                                  u"4",
                                  u"80.00",
                                  {u"0", u"0", u"1", u"0"},
                                  0},
                      QualityCase{"FiveFailedGuidesStayQuiet",
                                  QList<Reading>(5, kBadGuide),
                                  {},
                                  u"15",
                                  u"5",
                                  u"75.00",
                                  {u"0", u"0", u"0", u"5"},
                                  0},
                      QualityCase{"SixthFailedGuideAlerts",
                                  QList<Reading>(6, kBadGuide),
                                  {},
                                  u"18",
                                  u"6",
                                  u"75.00",
                                  {u"0", u"0", u"0", u"0"},
                                  1},
                      QualityCase{"ThresholdZeroAlertsAtTheFirstFailure",
                                  {kBadL},
                                  {{SettingId::evlll, 0.0}},
                                  u"3",
                                  u"1",
                                  u"75.00",
                                  {u"0", u"0", u"0", u"0"},
                                  1},
                      QualityCase{"SmallXFailsACapitalXInHOnly",
                                  {kCapitalX},
                                  {{SettingId::EDFHHH, u"x"_s}},
                                  u"3",
                                  u"1",
                                  u"75.00",
                                  {u"1", u"0", u"0", u"0"},
                                  1},
                      QualityCase{"EmptyPatternNeverFails",
                                  {kNoDimensions},
                                  {{SettingId::EDFHHH, QString()}},
                                  u"4",
                                  u"0",
                                  u"100.00",
                                  {u"0", u"0", u"0", u"0"},
                                  0},
                      QualityCase{"TwoFieldsAtTheirLimitSendOneMail",
                                  {kBadLW},
                                  {{SettingId::evlll, 1.0}, {SettingId::evwww, 1.0}},
                                  u"2",
                                  u"2",
                                  u"50.00",
                                  {u"0", u"0", u"0", u"0"},
                                  1},
                      QualityCase{"OneInThreeFailedGivesTwoDecimals",
                                  {kNoDimensions, kGood, kGood},
                                  {{SettingId::EVhhh, 9.0}},
                                  u"9",
                                  u"3",
                                  u"75.00",
                                  {u"0", u"0", u"0", u"0"},
                                  1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QualityFixture, AfterResetTheQualityIsWrittenInFullAgain) {
    panel.setText(Field::Lbuenos, u"0"_s);
    panel.setText(Field::Lmalos, u"0"_s);
    panel.setText(Field::Lcalidad, u"100"_s);
    evaluate(kGood);
    EXPECT_EQ(panel.text(Field::Lcalidad), u"100.00"_s);
}

TEST(QualityText, UsesTheLocaleSeparatorAndTwoDecimals) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(alerts::QualityCounters::qualityText(97.5L, german), u"97,50"_s);
    EXPECT_EQ(alerts::QualityCounters::qualityText(200.0L / 3, QLocale::c()), u"66.67"_s);
    EXPECT_EQ(alerts::QualityCounters::qualityText(0, QLocale::c()), u"0.00"_s);
}

TEST_F(QualityFixture, TheAlertCarriesTheRecordAndClearsTheFailureBlock) {
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    {
        QFile file(u"Template_fallas.txt"_s);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("W @GUIA|G @ORIGEN|C @DESTINO|Bloque_falla");
    }
    panel.setText(Field::LC128_32, u"0003|4.5|P01"_s);
    panel.setText(Field::Fallas, u"bloque"_s);
    evaluate(kNoDimensions);
    EXPECT_EQ(panel.text(Field::Fallas), QString());
    // A template file that is gone leaves the last one loaded in use.
    ASSERT_TRUE(QFile::remove(u"Template_fallas.txt"_s));
    evaluate(kNoDimensions);
    QDir::setCurrent(previous);

    ASSERT_EQ(alertsReceived(), 2);
    const QList<QJsonObject> messages = s_peer->events(u"message"_s);
    for (const QJsonObject& message : messages.last(2))
        EXPECT_TRUE(
            message[u"data"_s].toString().contains(u"W ???|G GUIA0001ZXWV0002TSRQ00|C 0003|4.5|P01|"_s))
            << qPrintable(message[u"data"_s].toString());
    EXPECT_TRUE(messages.last(2)[0][u"data"_s].toString().endsWith(u"|bloque\r\n<br>\r\n"_s));
    EXPECT_EQ(report.last(), u"Alerta de calidad enviada"_s);
}

TEST_F(QualityFixture, AFifoTemplateFailsTheAlertAndTheRecordIsStillCounted) {
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    // Opening a pipe without a writer would wait for one forever.
    const bool made = ::mkfifo("Template_fallas.txt", 0600) == 0;
    if (made)
        evaluate(kNoDimensions);
    QDir::setCurrent(previous);
    if (!made)
        GTEST_SKIP() << "no named pipe here";

    EXPECT_EQ(panel.text(Field::Lmalos), u"3"_s);
    EXPECT_EQ(panel.text(Field::Lcalidad), u"25.00"_s);
    EXPECT_EQ(alertsReceived(), 0);
    EXPECT_TRUE(report.last().startsWith(u"Alerta de calidad no enviada: No se pudo leer la plantilla"_s))
        << qPrintable(report.last());
}

TEST_F(QualityFixture, WithoutAMailServerTheCountersStillMoveAndNothingIsShown) {
    const quint16 closedPort = testsupport::freePort(QHostAddress(QHostAddress::LocalHost));
    settings.setText(SettingId::EdMailport, QString::number(closedPort));
    QStringList changes;
    QObject::connect(&report, &alerts::AlertReport::changed, &report,
                     [&](const QString& text) { changes << text; });
    evaluate(kNoDimensions);
    evaluate(kNoDimensions);
    EXPECT_EQ(panel.text(Field::Lmalos), u"6"_s);
    EXPECT_EQ(panel.text(Field::Lcalidad), u"25.00"_s);
    EXPECT_EQ(panel.text(Field::Fallas), QString());
    ASSERT_EQ(changes.size(), 1) << "one report for the same failure twice";
    EXPECT_TRUE(changes[0].startsWith(u"Alerta de calidad no enviada: "_s)) << qPrintable(changes[0]);
}

TEST_F(QualityFixture, ACertificateThatDoesNotVerifyIsToldOnceAndTheAlertsCountAsSent) {
    testsupport::SmtpPeer tls(u"starttls"_s);
    ASSERT_TRUE(tls.started());
    settings.setText(SettingId::EdMailport, tls.portText());
    QStringList changes;
    QObject::connect(&report, &alerts::AlertReport::changed, &report,
                     [&](const QString& text) { changes << text; });
    QList<bool> noted;
    QObject::connect(&report, &alerts::AlertReport::noted, &report,
                     [&](bool sent, const QString&) { noted << sent; });
    evaluate(kNoDimensions);
    evaluate(kNoDimensions);
    ASSERT_TRUE(tls.waitFor(u"message"_s, 2));
    EXPECT_EQ(noted, (QList<bool>{true, true}));
    ASSERT_EQ(changes.size(), 1) << qPrintable(changes.join(u'\n'));
    EXPECT_TRUE(changes[0].startsWith(
        u"Alerta de calidad enviada con cifrado, pero el certificado del servidor no se pudo verificar: "_s))
        << qPrintable(changes[0]);
}

TEST_F(QualityFixture, AlertsBeyondAHundredWaitingAreDroppedAndToldOncePerBurst) {
    const QString droppedOne = u"Se descartó 1 alerta de calidad: demasiadas en espera"_s;
    testsupport::SmtpPeer silent(u"silent"_s);
    ASSERT_TRUE(silent.started());
    settings.setText(SettingId::EdMailport, silent.portText());
    QStringList changes;
    QObject::connect(&report, &alerts::AlertReport::changed, &report,
                     [&](const QString& text) { changes << text; });
    const auto alerts = [&](int count) {
        panel.setText(Field::LC128, QString::fromUtf16(kNoDimensions.guide));
        for (int i = 0; i < count; ++i)
            quality.evaluar_calidad(u"???"_s, u"???"_s, u"???"_s); // an unread H alerts every time
    };

    // One mail hangs on the silent server and a hundred wait: the next pushes the oldest out.
    alerts(102);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.contains(droppedOne); }, 5000));
    alerts(5);
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.count(droppedOne), 1)
        << "once for the whole burst: " << qPrintable(changes.join(u'\n'));
    EXPECT_EQ(panel.text(Field::Lmalos), u"321"_s) << "the records are counted all the same";

    // Once nothing waits any more, the next overflow is told again.
    editor.abortAll(u"cerrada"_s);
    alerts(102);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes.count(droppedOne) == 2; }, 5000))
        << qPrintable(changes.join(u'\n'));
}

TEST_F(QualityFixture, ASettingThatCannotBeSentIsReportedNotRaised) {
    settings.setText(SettingId::EdMailport, u"veinticinco"_s);
    EXPECT_NO_THROW(evaluate(kNoDimensions));
    EXPECT_EQ(panel.text(Field::Lmalos), u"3"_s);
    EXPECT_TRUE(report.last().contains(u"'veinticinco' is not a valid integer value"_s))
        << qPrintable(report.last());
}

struct StoredTotalCase {
    const char* name;
    const char16_t* stored;
    const char16_t* counted; // what the total reads after the check
    bool reported;
};

class StoredTotal : public QualityFixture, public ::testing::WithParamInterface<StoredTotalCase> {};

TEST_P(StoredTotal, ThatIsNoCountIsReportedOnceAndCountsFromZero) {
    panel.setText(Field::Lbuenos, QString::fromUtf16(GetParam().stored));
    base::ErrorReport errors;
    QStringList reported;
    QObject::connect(&errors, &base::ErrorReport::reported, &errors,
                     [&](const QString& message) { reported << message; });
    quality.checkStoredTotals(errors);
    EXPECT_EQ(panel.text(Field::Lbuenos), QString::fromUtf16(GetParam().counted));
    EXPECT_EQ(reported.size(), GetParam().reported ? 1 : 0);
    evaluate(kGood);
    EXPECT_EQ(panel.text(Field::Lbuenos), QString::number(GetParam().counted == u"0"_s ? 4 : 16));
}

INSTANTIATE_TEST_SUITE_P(Totals, StoredTotal,
                         ::testing::Values(StoredTotalCase{"Count", u"12", u"12", false},
                                           StoredTotalCase{"Text", u"doce", u"0", true},
                                           StoredTotalCase{"Empty", u"", u"0", true},
                                           StoredTotalCase{"Negative", u"-12", u"0", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
