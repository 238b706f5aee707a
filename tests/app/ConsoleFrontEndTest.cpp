#include "app/ConsoleFrontEnd.h"

#include "app/CoreStation.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/StatementExecutor.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SmtpPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include <fcntl.h>
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
        m_out = ::open(QFile::encodeName(m_dir.filePath(u"out"_s)).constData(),
                       O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        m_err = ::open(QFile::encodeName(m_dir.filePath(u"err"_s)).constData(),
                       O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_TRUE(m_out >= 0 && m_err >= 0);
        core = std::make_unique<app::CoreStation>(m_dir.filePath(u"OrvaneDB.reg"_s));
        console = std::make_unique<app::ConsoleFrontEnd>(*core, m_out, m_err);
    }

    void TearDown() override {
        console.reset();
        core.reset();
        ::close(m_out);
        ::close(m_err);
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
    int m_out = -1;
    int m_err = -1;
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

qsizetype recordLines(const QString& printed) {
    static const QRegularExpression record(u"^\\d{12} "_s, QRegularExpression::MultilineOption);
    return printed.count(record);
}

// The console front end over a core on the test's own thread, the station started in a working
// directory of its own with its database. What it prints goes to two files the test reads back.
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
        QDir::setCurrent(m_previous);
    }

    app::CoreStation& core() {
        if (!m_core)
            m_core = std::make_unique<app::CoreStation>(m_config.filePath(u"OrvaneDB.reg"_s));
        return *m_core;
    }

    // Standard output goes to `out` when given, else to a file that output() reads back.
    app::ConsoleFrontEnd& console(int out = -1, qsizetype outputLimit = app::ConsoleOutput::kDefaultLimit) {
        if (!m_console)
            m_console = std::make_unique<app::ConsoleFrontEnd>(core(), out < 0 ? m_out.handle() : out,
                                                               m_err.handle(), outputLimit);
        return *m_console;
    }

    // The console and the core as the program puts them together, the station started.
    void startUp(int out = -1, qsizetype outputLimit = app::ConsoleOutput::kDefaultLimit) {
        console(out, outputLimit);
        core().startUp();
    }

    QString output() const { return contents(m_out.fileName()); }
    QString errorOutput() const { return contents(m_err.fileName()); }

    void queueLines(int count, const QString& line = kDeviceLine) {
        for (int i = 0; i < count; ++i)
            core().queue().append(item(u"127.0.0.1"_s, line));
    }

    bool processed(int count) {
        return QTest::qWaitFor(
            [&] { return core().panel().text(station::Field::lProcesados) == QString::number(count); },
            kWaitMs);
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
    static QString contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : u"<unreadable>"_s;
    }

    QTemporaryFile m_out;
    QTemporaryFile m_err;
    QString m_previous;
    std::unique_ptr<app::CoreStation> m_core;
    std::unique_ptr<app::ConsoleFrontEnd> m_console;
};

TEST_F(ConsoleStationTest, FailedCloseCommitsTheRowsAndTheNextSalirClosesOnceTheCauseIsGone) {
    startUp();
    queueLines(3);
    ASSERT_TRUE(QDir().mkdir(u"NombreCamaras.txt"_s));
    QSignalSpy failed(&core(), &app::CoreStation::closeFailed);
    QSignalSpy finished(&console(), &app::ConsoleFrontEnd::finished);

    ASSERT_TRUE(console().command(u"salir"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return core().rowOutbox().pendingCount() == 0; }, kWaitMs));
    EXPECT_EQ(rowCount(), u"3"_s);

    ASSERT_TRUE(QDir().rmdir(u"NombreCamaras.txt"_s));
    ASSERT_TRUE(console().command(u"salir"));
    EXPECT_TRUE(finished.wait(kWaitMs));
}

TEST_F(ConsoleStationTest, ControlCharactersFromADeviceAreShownEscapedAndStoredAsSent) {
    // A code that would retitle and clear the operator's terminal (24 characters, as the slot wants).
    const QString code = u"\x1B]0;TITULO\x07\x1B[2JABCDEFGHI"_s;
    QString line = kDeviceLine;
    line.replace(u"GUIA0001ZXWV0002TSRQ0003"_s, code);
    startUp();
    queueLines(1, line);
    ASSERT_TRUE(processed(1));
    core().close();

    const QString printed = output();
    EXPECT_TRUE(printed.contains(u" \\x1B]0;TITULO\\x07\\x1B[2JABCDEFGHI "_s)) << qPrintable(printed);
    EXPECT_FALSE(printed.contains(QChar(0x1B)));
    EXPECT_FALSE(printed.contains(QChar(0x07)));
    storage::StatementExecutor reader;
    reader.setDatabaseName(u"ROVEZOD30.FDB"_s);
    ASSERT_TRUE(reader.consultar(u"select paquete from paquetes"_s)) << qPrintable(reader.ultimo_error());
    EXPECT_EQ(reader.ultimo_resultado(), code);
}

// A refused record is said on the error output with the reason, once the database has refused it.
TEST_F(ConsoleStationTest, ARefusedRecordIsSaidOnStderrWithTheReason) {
    core().settings().setLines(config::SettingId::LogiPs, config::LineList::fromLines({u"127.0.0.1"_s}));
    core().settings().setLines(config::SettingId::LogCamNombre,
                               config::LineList::fromLines({QString(256, u'C')}));
    startUp();
    queueLines(2);
    ASSERT_TRUE(processed(2));
    const auto refusals = [&] { return errorOutput().count(u"Registro rechazado por la base de datos: "_s); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return refusals() == 2; }, kWaitMs)) << qPrintable(errorOutput());
    EXPECT_TRUE(errorOutput().contains(u"GUIA0001ZXWV0002TSRQ0003"_s)) << qPrintable(errorOutput());
    EXPECT_FALSE(errorOutput().contains(u" ()\n"_s))
        << "a reason must be given: " << qPrintable(errorOutput());
}

// A database that cannot be opened refuses nothing: the rows wait, and the operator is told how
// many and why.
TEST_F(ConsoleStationTest, RowsWaitingForADatabaseThatCannotBeOpenedAreSaidOnStderr) {
    core().settings().setText(config::SettingId::Eddb, u"sin-carpeta/ROVEZOD30.FDB"_s);
    startUp();
    queueLines(2);
    ASSERT_TRUE(processed(2));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return errorOutput().contains(u"BD sin conexi\u00f3n: "_s); }, kWaitMs));
    EXPECT_TRUE(errorOutput().contains(u"filas en espera desde"_s)) << qPrintable(errorOutput());
    EXPECT_FALSE(errorOutput().contains(u"Registro rechazado"_s)) << qPrintable(errorOutput());
    EXPECT_EQ(core().rowOutbox().pendingCount(), 2);
    EXPECT_EQ(recordLines(output()), 2) << qPrintable(output());
}

// A pipe the test reads from when it chooses to.
class Pipe final {
public:
    Pipe() { EXPECT_EQ(::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    Q_DISABLE_COPY_MOVE(Pipe)

    int readEnd() const { return m_fds[0]; }
    int writeEnd() const { return m_fds[1]; }

    void write(const QByteArray& bytes) const {
        EXPECT_EQ(::write(m_fds[1], bytes.constData(), size_t(bytes.size())), bytes.size());
    }

    // Fills it until it takes nothing more.
    void fill() const {
        const QByteArray junk(4096, '\n');
        while (::write(m_fds[1], junk.constData(), junk.size()) > 0) {
        }
    }

    // Everything it holds now.
    QString take() const {
        QByteArray bytes;
        char chunk[65536];
        for (ssize_t got; (got = ::read(m_fds[0], chunk, sizeof chunk)) > 0;)
            bytes.append(chunk, got);
        return QString::fromUtf8(bytes);
    }

private:
    int m_fds[2] = {-1, -1};
};

TEST_F(ConsoleStationTest, StalledOutputNeverHoldsTheStationAndTellsHowManyLinesItLeftOut) {
    constexpr int kLines = 100;
    const Pipe pipe;
    pipe.fill();
    startUp(pipe.writeEnd(), 2000);

    queueLines(kLines);
    ASSERT_TRUE(processed(kLines));

    QString printed = pipe.take();
    queueLines(1);
    ASSERT_TRUE(processed(kLines + 1));
    static const QRegularExpression notice(u"^\\((\\d+) l\u00edneas no mostradas\\)$"_s,
                                           QRegularExpression::MultilineOption);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            printed += pipe.take();
            return notice.match(printed).hasMatch() && printed.endsWith(u"Con gu\u00eda\n"_s);
        },
        kWaitMs))
        << qPrintable(printed.right(400));
    const qsizetype shown = recordLines(printed);
    EXPECT_LT(shown, kLines);
    EXPECT_EQ(shown + notice.match(printed).captured(1).toLongLong(), kLines + 1);
}

TEST_F(ConsoleStationTest, ACommandLineBeyondItsBoundIsRefusedWithoutBeingKept) {
    const Pipe input;
    startUp();
    console().attach(input.readEnd());
    QSignalSpy finished(&console(), &app::ConsoleFrontEnd::finished);

    // Its end, "salir", belongs to the refused line and is no command.
    input.write(QByteArray(3 * app::ConsoleFrontEnd::kLongestCommandLine, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return errorOutput().contains(u"Orden demasiado larga"_s); }, kWaitMs));
    input.write(QByteArray(app::ConsoleFrontEnd::kLongestCommandLine, 'x') + " salir\nparar\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return core().panel().text(station::Field::Label1) == u"Orvane Detenido"_s; }, kWaitMs));
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(errorOutput().count(u'\n'), 1) << qPrintable(errorOutput());

    input.write("salir\n");
    EXPECT_TRUE(finished.wait(kWaitMs));
}

// The bound is the one the refusal names, also for a line that arrives in more than one read.
TEST_F(ConsoleStationTest, ACommandLineOfOneByteMoreThanItsBoundIsRefused) {
    const Pipe input;
    startUp();
    console().attach(input.readEnd());
    const qsizetype bound = app::ConsoleFrontEnd::kLongestCommandLine;
    input.write(QByteArray(bound + 1 - 5, ' ') + "parar\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return errorOutput().contains(u"Orden demasiado larga"_s); }, kWaitMs));
    QCoreApplication::processEvents();
    EXPECT_NE(core().panel().text(station::Field::Label1), u"Orvane Detenido"_s);

    input.write(QByteArray(bound - 5, ' ') + "parar\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return core().panel().text(station::Field::Label1) == u"Orvane Detenido"_s; }, kWaitMs));
    EXPECT_EQ(errorOutput().count(u'\n'), 1) << qPrintable(errorOutput());
}

} // namespace
