#include "station/SerialIntake.h"

#include "base/Error.h"
#include "base/ErrorReport.h"
#include "station/LivePanel.h"
#include "station/OriginTag.h"
#include "station/RawLog.h"
#include "station/StationError.h"
#include "station/TickTimer.h"
#include "tests/support/FakeClock.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/QtPrinters.h"

#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <termios.h>

#include <vector>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using station::Field;
using station::Light;
using station::SerialIntake;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

namespace {

constexpr int kWaitMs = 10000;
const QChar kStx{0x02};
const QChar kEtx{0x03};

class FakeTimer final : public station::TickTimer {
public:
    void setEnabled(bool on) override { m_on = on; }
    bool isEnabled() const override { return m_on; }

private:
    bool m_on = false;
};

// The intake on a pseudo-terminal that COM3 links to; the test is the device on the other end.
class SerialIntakeTest : public ::testing::Test {
public:
    SerialIntakeTest() {
        settings.ComNumber = 3;
        origin.set(u"10.0.0.1"_s);
        QObject::connect(&errors, &base::ErrorReport::reported, &errors,
                         [this](const QString& message) { reported << message; });
    }

    void SetUp() override {
        ASSERT_TRUE(device->isOpen());
        ASSERT_TRUE(dosdevices.link(3, device->slavePath()));
    }

    void start() { ASSERT_NO_THROW(intake.start()); }

    template <typename Done> bool waitFor(Done done) { return QTest::qWaitFor(done, kWaitMs); }

    QString label51() const { return panel.text(Field::Label51); }

    testsupport::DosDevices dosdevices;
    std::unique_ptr<testsupport::PseudoTerminal> device = std::make_unique<testsupport::PseudoTerminal>();
    config::SerialPortSettings settings;
    station::LivePanel panel;
    station::OriginTag origin;
    station::RawLog logRS232;
    FakeTimer timer;
    QString bufferTrama;
    FakeClock clock{QDateTime(QDate(2024, 1, 5), QTime(14, 37))};
    base::ErrorReport errors;
    QStringList reported;
    // What the serial log held at each periodic save; a save fails with `saveFailure` when set.
    QList<QStringList> saves;
    QString saveFailure;
    SerialIntake intake{{settings, panel, origin, logRS232, timer, bufferTrama, clock, errors,
                         [this] {
                             saves << logRS232.entries();
                             if (!saveFailure.isEmpty())
                                 throw base::Error(saveFailure);
                         }},
                        QLocale(QLocale::English, QLocale::UnitedStates),
                        50ms};
};

// --- bytes into lines -----------------------------------------------------------------------------

struct Step {
    QByteArray bytes;
    QString partialAfter; // what the line being received holds once the step has arrived
};

struct LineCase {
    const char* name;
    std::vector<Step> steps;
    QStringList log;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class SerialLines : public SerialIntakeTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SerialLines, BecomeLogEntries) {
    start();
    const LineCase& c = GetParam();
    for (const Step& step : c.steps) {
        ASSERT_TRUE(device->write(step.bytes));
        const bool last = &step == &c.steps.back();
        EXPECT_TRUE(waitFor([&] {
            return intake.parcialSerial() == step.partialAfter && (!last || logRS232.size() >= c.log.size());
        })) << qPrintable(intake.parcialSerial());
    }
    EXPECT_EQ(logRS232.entries(), c.log);
    EXPECT_EQ(intake.parcialSerial(), c.steps.back().partialAfter);
    EXPECT_TRUE(reported.isEmpty()) << qPrintable(reported.join(u'\n'));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, SerialLines,
    ::testing::Values(LineCase{"SplitOverTwoNotifications",
                               {{"\x02"
                                 "201",
                                 kStx + u"201"_s},
                                {"3\r", u""_s}},
                               {kStx + u"2013"_s}},
                      LineCase{"CrLfGivesTheLineAndAnEmptyEntry", {{"ABC\r\n", u""_s}}, {u"ABC"_s, u""_s}},
                      LineCase{"FormFeedEscapeAndVerticalTabDroppedTabKept",
                               {{"A\x0c"
                                 "B\x1b"
                                 "C\x0b"
                                 "D\tE\n",
                                 u""_s}},
                               {u"ABCD\tE"_s}},
                      LineCase{"NulStxEtxKept",
                               {{QByteArray("\x00\x02X\x03\r", 5), u""_s}},
                               {QString(QChar(0)) + kStx + u"X"_s + kEtx}},
                      LineCase{"HighBytesThroughTheCodePage",
                               {{"caf\xe9 \x80 \x81\r", u""_s}},
                               {u"caf\u00e9 \u20ac \u0081"_s}},
                      LineCase{"NoLineEndYet", {{"00012", u"00012"_s}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialIntakeTest, CompletedLineTagsTheSerialOriginAndWakesTheTick) {
    start();
    ASSERT_TRUE(device->write("\x02"
                              "H00001!000123\r"));
    ASSERT_TRUE(waitFor([&] { return logRS232.size() == 1; }));

    EXPECT_EQ(origin.get(), u"232"_s);
    EXPECT_TRUE(timer.isEnabled());
    EXPECT_EQ(bufferTrama, QString(kStx) + kStx + u"H00001!000123"_s + kEtx);
    EXPECT_EQ(panel.status(2), u"1/5/24 2:37:00 PM"_s + kStx + u"H00001!000123"_s);
    EXPECT_FALSE(panel.isLit(Light::ASLStream));

    // The LF of a CR LF pair completes an empty line: the status keeps the time alone.
    ASSERT_TRUE(device->write("\n"));
    ASSERT_TRUE(waitFor([&] { return logRS232.size() == 2; }));
    EXPECT_EQ(panel.status(2), u"1/5/24 2:37:00 PM"_s);
}

TEST_F(SerialIntakeTest, EveryCompletedLineIsSavedPeriodicallyOnceItIsLogged) {
    start();
    ASSERT_TRUE(device->write("A\rB\nC"));
    ASSERT_TRUE(waitFor([&] { return intake.parcialSerial() == u"C"_s; }));

    EXPECT_EQ(saves, (QList<QStringList>{{u"A"_s}, {u"A"_s, u"B"_s}}));
}

TEST_F(SerialIntakeTest, PeriodicSaveThatFailsIsReportedPerNotificationAndLosesNoLine) {
    constexpr int kLines = 2000;
    saveFailure = u"No se puedo crear la carpeta Datos Orvane"_s;
    start();
    ASSERT_TRUE(device->write(QByteArray("x\r").repeated(kLines) + "tail\r"));

    ASSERT_TRUE(waitFor([&] { return logRS232.size() == kLines + 1; })) << logRS232.size();
    EXPECT_EQ(logRS232.entries().last(), u"tail"_s);
    EXPECT_EQ(saves.size(), kLines + 1);
    // A burst comes in a few notifications, not one per line.
    ASSERT_FALSE(reported.isEmpty());
    EXPECT_LT(reported.size(), 50);
    EXPECT_EQ(reported.count(saveFailure), reported.size());
}

TEST_F(SerialIntakeTest, NotificationOfNoBytesOnlyFlashesTheLight) {
    QSignalSpy lights(&panel, &station::LivePanel::lightChanged);
    QSignalSpy fields(&panel, &station::LivePanel::fieldChanged);
    QSignalSpy status(&panel, &station::LivePanel::statusChanged);

    intake.ApdComPort1TriggerAvail(0);

    ASSERT_EQ(lights.count(), 2);
    EXPECT_EQ(lights[0][1].toBool(), true);
    EXPECT_EQ(lights[1][1].toBool(), false);
    EXPECT_EQ(fields.count(), 0);
    EXPECT_EQ(status.count(), 0);
    EXPECT_TRUE(logRS232.isEmpty());
    EXPECT_FALSE(timer.isEnabled());
    EXPECT_EQ(origin.get(), u"10.0.0.1"_s);
}

TEST_F(SerialIntakeTest, PartialLineContinuesAfterStopAndStart) {
    start();
    ASSERT_TRUE(device->write("ABC"));
    ASSERT_TRUE(waitFor([&] { return intake.parcialSerial() == u"ABC"_s; }));

    intake.stop();
    EXPECT_FALSE(intake.isOpen());
    EXPECT_EQ(label51(), u"Puerto com Cerrado"_s);
    start();
    ASSERT_TRUE(device->write("DEF\r"));

    ASSERT_TRUE(waitFor([&] { return logRS232.size() == 1; }));
    EXPECT_EQ(logRS232.entries(), QStringList{u"ABCDEF"_s});
}

// --- the port -------------------------------------------------------------------------------------

struct SettingsCase {
    const char* name;
    int baud;
    int dataBits;
    config::Parity parity;
    int stopBits;
    speed_t speed;
    tcflag_t parityFlags; // of PARODD | CMSPAR
    bool twoStopBits;
    const char16_t* label51;
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << c.name;
}

class PortSettings : public SerialIntakeTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(PortSettings, ReachTheLineAndTheStatusText) {
    const SettingsCase& c = GetParam();
    settings.Baud = c.baud;
    settings.DataBits = c.dataBits;
    settings.parity = c.parity;
    settings.StopBits = c.stopBits;
    start();

    const std::optional<termios> settingsSeen = device->lineSettings();
    ASSERT_TRUE(settingsSeen);
    const termios& line = *settingsSeen;
    EXPECT_EQ(::cfgetospeed(&line), c.speed);
    // A pseudo-terminal always carries eight bits without a parity bit; what it keeps of the
    // parity still tells odd, mark and space apart.
    EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), c.parityFlags);
    EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(label51(), QString::fromUtf16(c.label51));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PortSettings,
    ::testing::Values(
        SettingsCase{"Defaults", 19200, 8, config::Parity::None, 1, B19200, 0, false,
                     u"Monitoreando en el puerto serial: COM3, Baudios: 19200, Data bits:8, Paridad:Ninguna, "
                     u"Bits de Parada:1"},
        SettingsCase{"SevenEvenTwo", 9600, 7, config::Parity::Even, 2, B9600, 0, true,
                     u"Monitoreando en el puerto serial: COM3, Baudios: 9600, Data bits:7, Paridad:Par, "
                     u"Bits de Parada:2"},
        SettingsCase{"OddParity", 115200, 8, config::Parity::Odd, 1, B115200, PARODD, false,
                     u"Monitoreando en el puerto serial: COM3, Baudios: 115200, Data bits:8, Paridad:Impar, "
                     u"Bits de Parada:1"},
        // Zero stop bits is taken as one.
        SettingsCase{"MarkParityZeroStopBits", 600, 8, config::Parity::Mark, 0, B600, PARODD | CMSPAR, false,
                     u"Monitoreando en el puerto serial: COM3, Baudios: 600, Data bits:8, Paridad:Marca, "
                     u"Bits de Parada:0"},
        SettingsCase{"SpaceParity", 4800, 8, config::Parity::Space, 1, B4800, CMSPAR, false,
                     u"Monitoreando en el puerto serial: COM3, Baudios: 4800, Data bits:8, Paridad:Espacio, "
                     u"Bits de Parada:1"}),
    [](const auto& info) { return std::string(info.param.name); });

class PortThatCannotOpen;

// What the station's start does about a port that cannot be opened.
enum class AtStart {
    Silent,   // none selected: no fault
    Reported, // settings no port takes: said once
    Retried,  // the device may still come: said once, then tried until it opens
};

struct OpenFailure {
    const char* name;
    std::function<void(PortThatCannotOpen&)> arrange;
    QString message;
    AtStart atStart;
};

void PrintTo(const OpenFailure& c, std::ostream* os) {
    *os << c.name;
}

class PortThatCannotOpen : public SerialIntakeTest, public ::testing::WithParamInterface<OpenFailure> {
public:
    QString expected() const { return QString(GetParam().message).replace(u"%1"_s, dosdevices.path()); }
    // COM3 linked to something in the settings folder that is no line.
    bool linkTo(const QString& name) { return dosdevices.link(3, dosdevices.path() + u'/' + name); }

    QSerialPort squatter;
};

TEST_P(PortThatCannotOpen, SaysWhyAndLeavesTheStatusAlone) {
    GetParam().arrange(*this);
    EXPECT_THAT([&] { intake.start(); },
                ThrowsMessage<station::StationError>(StrEq(expected().toStdString())));
    EXPECT_FALSE(intake.isOpen());
    EXPECT_EQ(label51(), u"Puerto serial"_s);
}

TEST_P(PortThatCannotOpen, AtTheStationsStartIsReportedAndTriedWhileTheDeviceMayCome) {
    const OpenFailure& c = GetParam();
    c.arrange(*this);
    intake.startOrKeepTrying();

    EXPECT_FALSE(intake.isOpen());
    EXPECT_EQ(label51(), u"Puerto serial"_s);
    EXPECT_EQ(intake.reopening(), c.atStart == AtStart::Retried);
    switch (c.atStart) {
    case AtStart::Silent:
        EXPECT_TRUE(reported.isEmpty()) << qPrintable(reported.join(u'\n'));
        return;
    case AtStart::Reported:
        EXPECT_EQ(reported, QStringList{expected()});
        return;
    case AtStart::Retried:
        EXPECT_EQ(reported, QStringList{expected() + u"; se intenta abrirlo de nuevo cada 0.05 s"_s});
        break;
    }

    // The device comes: the port opens by itself and says so.
    squatter.close();
    ASSERT_TRUE(dosdevices.link(settings.ComNumber, device->slavePath()));
    ASSERT_TRUE(waitFor([&] { return intake.isOpen(); }));
    EXPECT_FALSE(intake.reopening());
    EXPECT_TRUE(label51().startsWith(u"Monitoreando en el puerto serial: COM"_s)) << qPrintable(label51());
    ASSERT_TRUE(device->write("ya\r"));
    ASSERT_TRUE(waitFor([&] { return logRS232.size() == 1; }));
    ASSERT_EQ(reported.size(), 2);
    EXPECT_EQ(reported[1], u"El puerto serial COM%1 se abri\u00f3 al reintentar"_s.arg(settings.ComNumber));
}

INSTANTIATE_TEST_SUITE_P(
    Open, PortThatCannotOpen,
    ::testing::Values(
        OpenFailure{"NoPortSelected", [](PortThatCannotOpen& t) { t.settings.ComNumber = 0; },
                    u"No hay puerto serial seleccionado (COM0)"_s, AtStart::Silent},
        OpenFailure{"LinkToNothing",
                    [](PortThatCannotOpen& t) { ASSERT_TRUE(t.dosdevices.link(3, u"/nonexistent/tty"_s)); },
                    u"No existe el puerto serial COM3 (%1/Tarvenix/dosdevices/com3)"_s, AtStart::Retried},
        OpenFailure{"NoLinkFallsBackToTtyS", [](PortThatCannotOpen& t) { t.settings.ComNumber = 250; },
                    u"No existe el puerto serial COM250 (/dev/ttyS249)"_s, AtStart::Retried},
        OpenFailure{"LinkToARegularFile",
                    [](PortThatCannotOpen& t) {
                        QFile file(t.dosdevices.path() + u"/file"_s);
                        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                        ASSERT_TRUE(t.linkTo(u"file"_s));
                    },
                    u"El puerto serial COM3 (%1/Tarvenix/dosdevices/com3) no es un dispositivo serial"_s,
                    AtStart::Retried},
        OpenFailure{"LinkToAFolder", [](PortThatCannotOpen& t) { ASSERT_TRUE(t.linkTo(u"Tarvenix"_s)); },
                    u"El puerto serial COM3 (%1/Tarvenix/dosdevices/com3) no es un dispositivo serial"_s,
                    AtStart::Retried},
        OpenFailure{
            "LinkToANamedPipe",
            [](PortThatCannotOpen& t) {
                ASSERT_EQ(::mkfifo(QFile::encodeName(t.dosdevices.path() + u"/fifo"_s).constData(), 0600), 0);
                ASSERT_TRUE(t.linkTo(u"fifo"_s));
            },
            u"El puerto serial COM3 (%1/Tarvenix/dosdevices/com3) no es un dispositivo serial"_s,
            AtStart::Retried},
        OpenFailure{"LinkToDevNull",
                    [](PortThatCannotOpen& t) { ASSERT_TRUE(t.dosdevices.link(3, u"/dev/null"_s)); },
                    u"El puerto serial COM3 (%1/Tarvenix/dosdevices/com3) no es un dispositivo serial"_s,
                    AtStart::Retried},
        OpenFailure{
            "HeldByAnotherProgram",
            [](PortThatCannotOpen& t) {
                t.squatter.setPortName(t.device->slavePath());
                ASSERT_TRUE(t.squatter.open(QIODevice::ReadWrite)) << qPrintable(t.squatter.errorString());
            },
            u"El puerto serial COM3 est\u00e1 en uso (%1/Tarvenix/dosdevices/com3)"_s, AtStart::Retried},
        OpenFailure{"SettingsTheLineCannotTake", [](PortThatCannotOpen& t) { t.settings.DataBits = 9; },
                    u"El puerto serial COM3 no acepta Data bits: 9"_s, AtStart::Reported},
        OpenFailure{"NoSpeed", [](PortThatCannotOpen& t) { t.settings.Baud = 0; },
                    u"El puerto serial COM3 no acepta Baudios: 0"_s, AtStart::Reported},
        OpenFailure{"NegativeDataBits", [](PortThatCannotOpen& t) { t.settings.DataBits = -8; },
                    u"El puerto serial COM3 no acepta Data bits: -8"_s, AtStart::Reported},
        OpenFailure{"ThreeStopBits", [](PortThatCannotOpen& t) { t.settings.StopBits = 3; },
                    u"El puerto serial COM3 no acepta Bits de Parada: 3"_s, AtStart::Reported},
        OpenFailure{"NegativePort", [](PortThatCannotOpen& t) { t.settings.ComNumber = -1; },
                    u"No existe el puerto serial COM-1: los puertos se numeran desde 1 (0 es ninguno)"_s,
                    AtStart::Reported}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialIntakeTest, SendOnAClosedPortOpensItFirst) {
    intake.send("ACK");

    EXPECT_TRUE(intake.isOpen());
    EXPECT_EQ(device->read(3, kWaitMs), QByteArray("ACK"));
    // Only the start speaks of the port.
    EXPECT_EQ(label51(), u"Puerto serial"_s);
}

// --- a device that misbehaves ---------------------------------------------------------------------

TEST_F(SerialIntakeTest, LineWithoutEndIsCompletedAtItsBoundAndReportedOnce) {
    start();
    const QByteArray endless(SerialIntake::kLongestLine * 2 + 5, 'x');
    ASSERT_TRUE(device->write(endless));

    ASSERT_TRUE(waitFor([&] { return logRS232.size() == 2 && intake.parcialSerial().size() == 5; }));
    EXPECT_EQ(logRS232.entries()[0].size(), SerialIntake::kLongestLine);
    EXPECT_EQ(logRS232.entries()[1].size(), SerialIntake::kLongestLine);
    EXPECT_EQ(intake.cutLines(), 2);
    EXPECT_EQ(reported.size(), 1);
}

TEST_F(SerialIntakeTest, DeviceThatHangsUpClosesThePortUntilItComesBack) {
    start();
    ASSERT_TRUE(device->write("AB"));
    ASSERT_TRUE(waitFor([&] { return intake.parcialSerial() == u"AB"_s; }));

    device->close();
    ASSERT_TRUE(waitFor([&] { return !intake.isOpen(); }));
    EXPECT_TRUE(intake.reopening());
    EXPECT_EQ(label51(), u"Puerto com Cerrado"_s);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported[0].startsWith(u"El puerto serial COM3 dej\u00f3 de responder"_s))
        << qPrintable(reported[0]);

    device = std::make_unique<testsupport::PseudoTerminal>();
    ASSERT_TRUE(dosdevices.link(3, device->slavePath()));
    ASSERT_TRUE(waitFor([&] { return intake.isOpen(); }));
    EXPECT_FALSE(intake.reopening());
    EXPECT_TRUE(label51().startsWith(u"Monitoreando en el puerto serial: COM3"_s));
    ASSERT_TRUE(device->write("C\r"));
    ASSERT_TRUE(waitFor([&] { return logRS232.size() == 1; }));
    EXPECT_EQ(logRS232.entries(), QStringList{u"ABC"_s});
    // Its return is told as its loss was.
    ASSERT_EQ(reported.size(), 2);
    EXPECT_EQ(reported[1], u"El puerto serial COM3 se abri\u00f3 al reintentar"_s);
}

TEST_F(SerialIntakeTest, StopEndsTheAttemptsToReopen) {
    start();
    device->close();
    ASSERT_TRUE(waitFor([&] { return !intake.isOpen(); }));
    EXPECT_TRUE(intake.reopening());

    intake.stop();
    EXPECT_FALSE(intake.reopening());
    EXPECT_FALSE(intake.isOpen());
}

// --- the status bar's moment ------------------------------------------------------------------------

struct MomentCase {
    const char* name;
    QLocale locale;
    QDateTime moment;
    QString text;
};

void PrintTo(const MomentCase& c, std::ostream* os) {
    *os << c.name;
}

class StatusMoment : public ::testing::TestWithParam<MomentCase> {};

TEST_P(StatusMoment, ShortDateLongTimeNoZone) {
    EXPECT_EQ(SerialIntake::dateTimeText(GetParam().moment, GetParam().locale), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, StatusMoment,
    ::testing::Values(MomentCase{"UnitedStates", QLocale(QLocale::English, QLocale::UnitedStates),
                                 QDateTime(QDate(2024, 1, 5), QTime(14, 37, 9)), u"1/5/24 2:37:09 PM"_s},
                      MomentCase{"SpainDropsTheZoneParentheses", QLocale(QLocale::Spanish, QLocale::Spain),
                                 QDateTime(QDate(2024, 1, 5), QTime(9, 7, 3)), u"5/1/24 9:07:03"_s},
                      MomentCase{"ExactMidnightHasNoTime", QLocale(QLocale::Spanish, QLocale::Mexico),
                                 QDateTime(QDate(2024, 1, 5), QTime(0, 0)), u"05/01/24"_s},
                      MomentCase{"AMillisecondPastMidnightHasIt", QLocale(QLocale::Spanish, QLocale::Mexico),
                                 QDateTime(QDate(2024, 1, 5), QTime(0, 0, 0, 1)), u"05/01/24 00:00:00"_s}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
