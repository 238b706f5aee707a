#include "app/ConsoleFrontEnd.h"

#include "app/CoreStation.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SmtpPeer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 10000;

// The console over a core on the test's thread, printing into files the test reads back, with a
// serial device on COM3.
class ConsoleFrontEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(device.isOpen());
        ASSERT_TRUE(dosdevices.link(3, device.slavePath()));
        m_out = std::fopen(qPrintable(m_dir.filePath(u"out"_s)), "w");
        m_err = std::fopen(qPrintable(m_dir.filePath(u"err"_s)), "w");
        ASSERT_TRUE(m_out && m_err);
        core = std::make_unique<app::CoreStation>(m_dir.filePath(u"OrvaneDB.reg"_s));
        console = std::make_unique<app::ConsoleFrontEnd>(*core, m_out, m_err);
    }

    void TearDown() override {
        console.reset();
        core.reset();
        std::fclose(m_out);
        std::fclose(m_err);
    }

    QString printed(const char* name) const {
        QFile file(m_dir.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    testsupport::DosDevices dosdevices;
    testsupport::PseudoTerminal device;
    std::unique_ptr<app::CoreStation> core;
    std::unique_ptr<app::ConsoleFrontEnd> console;

private:
    QTemporaryDir m_dir;
    FILE* m_out = nullptr;
    FILE* m_err = nullptr;
};

TEST_F(ConsoleFrontEndTest, PuertoPrintsTheSettingsAndAppliesNewOnesLikeThePortDialog) {
    ASSERT_TRUE(console->command(u"puerto"));
    EXPECT_EQ(
        printed("out"),
        u"Puerto serial: Ninguno, Baudios: 19200, Data bits: 8, Bits de parada: 1, Paridad: Ninguno\n"_s);

    ASSERT_TRUE(console->command(u"puerto 3 9600 7 0 marca"));
    EXPECT_EQ(device.read(3, kWaitMs), QByteArray("ACK"));
    EXPECT_TRUE(core->serialIntake().isOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return core->serialPort().Baud == 9600; }, kWaitMs));

    ASSERT_TRUE(console->command(u"puerto"));
    EXPECT_TRUE(printed("out").endsWith(
        u"Puerto serial: COM3, Baudios: 9600, Data bits: 7, Bits de parada: 0, Paridad: Marca\n"_s))
        << qPrintable(printed("out"));
    EXPECT_EQ(core->serialPort().parity, config::Parity::Mark);
    EXPECT_EQ(printed("err"), u""_s);
}

TEST_F(ConsoleFrontEndTest, PuertoWithWrongArgumentsShowsItsUseAndChangesNothing) {
    for (const QStringView line : {u"puerto 3", u"puerto x 9600 8 1 par", u"puerto 3 9600 8 1 rara",
                                   u"puerto 3 9600 8 1 par de mas"}) {
        ASSERT_TRUE(console->command(line)) << qPrintable(line.toString());
    }
    QCoreApplication::processEvents();

    EXPECT_EQ(printed("err").count(u"Uso: puerto"_s), 4) << qPrintable(printed("err"));
    EXPECT_EQ(core->serialPort(), config::SerialPortSettings{});
    EXPECT_FALSE(console->command(u"iniciar ya"));
}

TEST_F(ConsoleFrontEndTest, CorreoSendsTheTestMailAndSaysHowItWent) {
    auto peer = std::make_unique<testsupport::SmtpPeer>(u"no-auth"_s);
    ASSERT_TRUE(peer->started());
    alerts::MailRequest test = alerts::MessageEditor::builtInTestRequest();
    test.smpt_server_name = u"127.0.0.1"_s;
    test.smpt_server_port = peer->portText();
    core->alertMail().setTestRequest(test);

    ASSERT_TRUE(console->command(u"correo"));
    EXPECT_TRUE(peer->waitFor(u"message"_s));
    EXPECT_TRUE(QTest::qWaitFor([&] { return printed("out") == u"Correo de prueba enviado\n"_s; }, kWaitMs))
        << qPrintable(printed("out"));

    peer.reset();
    ASSERT_TRUE(console->command(u"correo"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return printed("err").startsWith(u"Correo de prueba no enviado: Servidor de correo 127.0.0.1:"_s);
        },
        kWaitMs))
        << qPrintable(printed("err"));
}

TEST_F(ConsoleFrontEndTest, HowTheAlertsGoReachesStderrOncePerChange) {
    core->alertReport().failed(u"sin servidor"_s);
    core->alertReport().failed(u"sin servidor"_s);
    core->alertReport().sent();
    EXPECT_EQ(printed("err"), u"Alerta de calidad no enviada: sin servidor\nAlerta de calidad enviada\n"_s);
}

} // namespace
