#include "app/ConsoleFrontEnd.h"

#include "app/CoreStation.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/StatementExecutor.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SmtpPeer.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <unistd.h>

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

const QString kDeviceLine = u"\x02H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                            u"GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5\tXYZ\t\n"_s;

// A queue item as the network intake makes it from a device line.
QString item(const QString& origin, const QString& deviceLine) {
    return u"\x02"_s + origin + u'\t' + deviceLine;
}

// The console front end over a core on the test's own thread, the station started in a working
// directory of its own with its database;
// what it prints goes to two files the test reads back.
class ConsoleStationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        ASSERT_TRUE(m_config.isValid());
        ASSERT_TRUE(m_out.open());
        ASSERT_TRUE(m_err.open());
        m_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_work.path()));
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::AnyIPv4, 0));
        config::SettingsStore store(m_config.filePath(u"OrvaneDB.reg"_s));
        store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s,
                          QString::number(probe.serverPort()));
        store.save();
    }

    void TearDown() override {
        m_console.reset();
        m_core.reset();
        if (m_outFile)
            std::fclose(m_outFile);
        if (m_errFile)
            std::fclose(m_errFile);
        QDir::setCurrent(m_previous);
    }

    app::CoreStation& core() {
        if (!m_core)
            m_core = std::make_unique<app::CoreStation>(m_config.filePath(u"OrvaneDB.reg"_s));
        return *m_core;
    }

    app::ConsoleFrontEnd& console() {
        if (!m_console) {
            m_outFile = ::fdopen(::dup(m_out.handle()), "w");
            m_errFile = ::fdopen(::dup(m_err.handle()), "w");
            m_console = std::make_unique<app::ConsoleFrontEnd>(core(), m_outFile, m_errFile);
        }
        return *m_console;
    }

    // The console and the core as the program puts them together, the station started.
    void startUp() {
        console();
        core().startUp();
    }

    // Rows in the station's database, read over a connection of the test's own.
    QString rowCount() {
        storage::StatementExecutor reader;
        reader.setDatabaseName(u"ROVEZOD30.FDB"_s);
        EXPECT_TRUE(reader.consultar(u"select count(*) from paquetes"_s))
            << qPrintable(reader.ultimo_error());
        return reader.ultimo_resultado();
    }

private:
    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QTemporaryFile m_out;
    QTemporaryFile m_err;
    FILE* m_outFile = nullptr;
    FILE* m_errFile = nullptr;
    QString m_previous;
    std::unique_ptr<app::CoreStation> m_core;
    std::unique_ptr<app::ConsoleFrontEnd> m_console;
};

TEST_F(ConsoleStationTest, FailedCloseCommitsTheRowsAndTheNextSalirClosesOnceTheCauseIsGone) {
    startUp();
    for (int i = 0; i < 3; ++i)
        core().queue().append(item(u"127.0.0.1"_s, kDeviceLine));
    ASSERT_TRUE(QDir().mkdir(u"NombreCamaras.txt"_s));
    QSignalSpy failed(&core(), &app::CoreStation::closeFailed);
    QSignalSpy finished(&console(), &app::ConsoleFrontEnd::finished);

    ASSERT_TRUE(console().command(u"salir"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, kWaitMs));
    EXPECT_EQ(rowCount(), u"3"_s);

    ASSERT_TRUE(QDir().rmdir(u"NombreCamaras.txt"_s));
    ASSERT_TRUE(console().command(u"salir"));
    EXPECT_TRUE(finished.wait(kWaitMs));
}

} // namespace
