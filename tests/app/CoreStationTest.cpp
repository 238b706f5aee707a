#include "app/CoreStation.h"

#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/PaquetesTable.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FreePort.h"
#include "tests/support/PrivateFirebirdServer.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SampleLines.h"
#include "tests/support/SmtpPeer.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace {

using testsupport::freePort;

constexpr int kWaitMs = 10000;

const QString kListeningOn = u"Orvane Monitoreando en puerto  :"_s;
const QString kLabel1Designed = u"Puerto de escucha"_s;
const QString kPortInUse = u"Could not bind socket. Address and port are already in use."_s;
const QByteArray kDefaultCameraList = "192.168.1.4\r\n192.168.1.255\r\n*\r\n";

// A device line as a reading device sends it; the station's default camera list accepts any origin.
const QByteArray kDeviceLine = testsupport::kSampleDeviceLine.toLatin1() + '\n';

// Whether something accepts connections on the port. The station's intake has a thread of its own,
// so a blocking connect from the core's thread is answered.
bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(kWaitMs);
}

QByteArray contents(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// The station core driven on the test thread, in a working directory of its own: the side files,
// the embedded database and the log folders all land there.
class CoreStationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        ASSERT_TRUE(m_config.isValid());
        m_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_work.path()));
    }

    void TearDown() override {
        m_core.reset();
        QDir::setCurrent(m_previous);
    }

    QString settingsFile() const { return m_config.filePath(u"OrvaneDB.reg"_s); }

    // What an earlier run left in the settings store.
    void storePort(const QString& text) {
        config::SettingsStore store(settingsFile());
        store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s, text);
        store.save();
    }

    // A serial device on COM3 and a station that listens on a free port and has COM3 stored.
    void storeSerialDevice() {
        ASSERT_TRUE(serialDevice.isOpen());
        ASSERT_TRUE(dosdevices.link(3, serialDevice.slavePath()));
        storePort(QString::number(freePort()));
        config::SettingsStore store(settingsFile());
        ASSERT_FALSE(store.load().has_value());
        store.writeInteger(station::FormStorage::kKey, u"ApdComPort1_ComNumber"_s, 3);
        store.writeInteger(station::FormStorage::kKey, u"ApdComPort1_Baud"_s, 9600);
        store.save();
    }

    app::CoreStation& core() {
        if (!m_core) {
            m_core = std::make_unique<app::CoreStation>(settingsFile());
            QObject::connect(&m_core->errors(), &base::ErrorReport::reported, m_core.get(),
                             [this](const QString& message) { errors << message; });
        }
        return *m_core;
    }

    app::CoreStation& startUp() {
        core().startUp();
        return core();
    }

    QString label(Field field) { return core().panel().text(field); }

    // The next core() is a new run of the station over the same files.
    void endRun() { m_core.reset(); }

    // Rows in the station's database; the station must have released it.
    QString rowCount() {
        storage::StatementExecutor reader;
        reader.setDatabaseName(u"ROVEZOD30.FDB"_s);
        EXPECT_TRUE(reader.consultar(u"select count(*) from paquetes"_s))
            << qPrintable(reader.ultimo_error());
        return reader.ultimo_resultado();
    }

    QStringList errors;
    testsupport::DosDevices dosdevices;
    testsupport::PseudoTerminal serialDevice;

private:
    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QString m_previous;
    std::unique_ptr<app::CoreStation> m_core;
};

// --- the first start ------------------------------------------------------------------------------

struct ListeningCase {
    const char* name;
    std::function<QString(quint16 free)> stored; // Edpuerto_Text as an earlier run stored it
    std::function<quint16(quint16 free)> port;   // where the station must listen
};

void PrintTo(const ListeningCase& c, std::ostream* os) {
    *os << c.name;
}

class FirstStartListens : public CoreStationTest, public ::testing::WithParamInterface<ListeningCase> {};

TEST_P(FirstStartListens, OnTheStoredPortAndSaysSo) {
    const quint16 free = freePort();
    const quint16 expected = GetParam().port(free);
    if (expected != free && accepts(expected))
        GTEST_SKIP() << "port " << expected << " is in use on this machine";
    storePort(GetParam().stored(free));

    startUp();

    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_TRUE(accepts(expected));
    EXPECT_EQ(label(Field::Label1), kListeningOn + QString::number(expected));
    // No serial port is selected; its failed open leaves the status as it was.
    EXPECT_EQ(label(Field::Label51), u"Puerto serial"_s);
}

INSTANTIATE_TEST_SUITE_P(Edpuerto, FirstStartListens,
                         ::testing::Values(ListeningCase{"StoredPort",
                                                         [](quint16 free) { return QString::number(free); },
                                                         [](quint16 free) { return free; }},
                                           // Only the low 16 bits count: 70000 is 4464.
                                           ListeningCase{"LowSixteenBits", [](quint16) { return u"70000"_s; },
                                                         [](quint16) { return quint16(4464); }}),
                         [](const auto& info) { return info.param.name; });

struct FailingCase {
    const char* name;
    std::function<QString(quint16 busy)> stored;
    std::function<QString(quint16 busy)> message;
};

void PrintTo(const FailingCase& c, std::ostream* os) {
    *os << c.name;
}

class FirstStartFails : public CoreStationTest, public ::testing::WithParamInterface<FailingCase> {};

TEST_P(FirstStartFails, ReportsAndLeavesTheStatusAlone) {
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, 0));
    const quint16 busy = squatter.serverPort();
    storePort(GetParam().stored(busy));

    startUp();

    EXPECT_EQ(errors, QStringList{GetParam().message(busy)});
    EXPECT_EQ(label(Field::Label1), kLabel1Designed);
}

INSTANTIATE_TEST_SUITE_P(
    Edpuerto, FirstStartFails,
    ::testing::Values(FailingCase{"NotAnInteger", [](quint16) { return u"abc"_s; },
                                  [](quint16) { return u"'abc' is not a valid integer value"_s; }},
                      // Beyond 32 bits, rather than listening on what its low bits say (38209).
                      FailingCase{"WiderThan32Bits", [](quint16) { return u"4295005505"_s; },
                                  [](quint16) { return u"'4295005505' is not a valid integer value"_s; }},
                      FailingCase{"PortInUse", [](quint16 busy) { return QString::number(busy); },
                                  [](quint16) { return kPortInUse; }}),
    [](const auto& info) { return info.param.name; });

// --- Iniciar and Parar ----------------------------------------------------------------------------

TEST_F(CoreStationTest, IniciarKeepsTheRunningPortUntilPararThenTakesTheNewOne) {
    const quint16 first = freePort();
    storePort(QString::number(first));
    app::CoreStation& station = startUp();
    ASSERT_TRUE(accepts(first));
    QTcpServer reserve;
    ASSERT_TRUE(reserve.listen(QHostAddress::AnyIPv4, 0));
    const quint16 second = reserve.serverPort();
    reserve.close();

    station.setSetting(SettingId::Edpuerto, QString::number(second));
    station.iniciar();
    EXPECT_TRUE(accepts(first));
    EXPECT_FALSE(accepts(second));
    EXPECT_EQ(label(Field::Label1), kListeningOn + QString::number(first));

    station.parar();
    EXPECT_EQ(label(Field::Label51), u"Puerto com Cerrado"_s);
    EXPECT_EQ(label(Field::Label1), u"Orvane Detenido"_s);
    EXPECT_FALSE(accepts(first));

    station.iniciar();
    EXPECT_TRUE(accepts(second));
    EXPECT_FALSE(accepts(first));
    EXPECT_EQ(label(Field::Label1), kListeningOn + QString::number(second));
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
}

// --- the side files -------------------------------------------------------------------------------

TEST_F(CoreStationTest, FirstCloseWritesTheCameraListsInTheCodePageWithCrLfAfterEveryLine) {
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    QSignalSpy closed(&station, &app::CoreStation::closed);

    station.close();

    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(contents(u"camaras.txc"_s), kDefaultCameraList);
    EXPECT_EQ(contents(u"NombreCamaras.txt"_s), kDefaultCameraList);
    EXPECT_FALSE(QFile::exists(u"turno.txt"_s));
}

TEST_F(CoreStationTest, CameraListWithAUtf8MarkIsReadAndWrittenBackWithIt) {
    const QByteArray file = "\xEF\xBB\xBF"
                            "10.0.0.7\r\nC\xC3\xA1mara norte\r\n*\r\n";
    writeFile(u"camaras.txc"_s, file);
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    EXPECT_EQ(station.settings().lines(SettingId::LogiPs).lines(),
              (QStringList{u"10.0.0.7"_s, u"C\u00e1mara norte"_s, u"*"_s}));

    station.close();

    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(contents(u"camaras.txc"_s), file);
}

TEST_F(CoreStationTest, UnreadableSideFileSkipsTheStartUntilIniciar) {
    ASSERT_TRUE(QDir().mkdir(u"camaras.txc"_s));
    const quint16 port = freePort();
    storePort(QString::number(port));

    app::CoreStation& station = startUp();

    EXPECT_EQ(errors.size(), 1);
    EXPECT_FALSE(accepts(port));
    EXPECT_EQ(label(Field::Label1), kLabel1Designed);

    station.iniciar();
    EXPECT_TRUE(accepts(port));
}

TEST_F(CoreStationTest, SideFileWriteFailureEndsTheCloseAfterTheSettingsWereStored) {
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    station.setSetting(SettingId::Eddb, u"otra.fdb"_s);
    ASSERT_TRUE(QDir().mkdir(u"NombreCamaras.txt"_s));
    QSignalSpy closed(&station, &app::CoreStation::closed);
    QSignalSpy failed(&station, &app::CoreStation::closeFailed);

    station.close();

    EXPECT_EQ(closed.count(), 0);
    ASSERT_EQ(failed.count(), 1);
    const QString message = failed.at(0).at(0).toString();
    EXPECT_TRUE(message.contains(u"NombreCamaras.txt"_s)) << qPrintable(message);
    EXPECT_EQ(errors, QStringList{message});
    config::SettingsStore stored(settingsFile());
    ASSERT_FALSE(stored.load().has_value());
    EXPECT_EQ(stored.readString(station::FormStorage::kKey, u"Eddb_Text"_s), u"otra.fdb"_s);
}

TEST_F(CoreStationTest, EthernetLogLinesAreWrittenOnceAcrossRuns) {
    const QString items = station::FormStorage::kKey.toString() + u"\\logEthernet_Items"_s;
    {
        config::SettingsStore store(settingsFile());
        store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s, QString::number(freePort()));
        store.writeString(items, u"Item0"_s, u"linea uno");
        store.writeString(items, u"Item1"_s, u"linea dos");
        store.writeInteger(items, u"Count"_s, 2);
        store.save();
    }
    for (int run = 0; run < 2; ++run) {
        startUp().close();
        endRun();
    }

    const QStringList written = QDir(u"Ethernet"_s).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 1) << qPrintable(written.join(u' '));
    EXPECT_EQ(contents(u"Ethernet/"_s + written.first()), "linea uno\r\nlinea dos\r\n");
    config::SettingsStore stored(settingsFile());
    ASSERT_FALSE(stored.load().has_value());
    EXPECT_EQ(stored.readInteger(items, u"Count"_s, -1), 0);
}

// --- no line is lost ------------------------------------------------------------------------------

TEST_F(CoreStationTest, LinesQueuedBeforePararStillBecomeRows) {
    constexpr int kLines = 3;
    const quint16 port = freePort();
    storePort(QString::number(port));
    app::CoreStation& station = startUp();
    // The intake appends on its own thread; the tick only runs when this thread lets it.
    QSemaphore queued;
    QObject::connect(
        &station.queue(), &station::IntakeQueue::appended, &station.queue(), [&queued] { queued.release(); },
        Qt::DirectConnection);

    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(device.waitForConnected(kWaitMs));
    for (int i = 0; i < kLines; ++i)
        device.write(kDeviceLine);
    ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(queued.tryAcquire(kLines, kWaitMs));

    station.parar();
    EXPECT_EQ(station.queue().size(), kLines);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return label(Field::lProcesados) == QString::number(kLines); }, kWaitMs));

    station.close();
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(rowCount(), QString::number(kLines));
}

TEST_F(CoreStationTest, CloseWorksOffTheQueueAtOnce) {
    constexpr int kItems = 50;
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    const QString item = u"\x02"_s + u"127.0.0.1\t"_s + QString::fromLatin1(kDeviceLine);
    for (int i = 0; i < kItems; ++i)
        station.queue().append(item);
    QSignalSpy closed(&station, &app::CoreStation::closed);

    // No event is processed in between: the tick's pacing never gets a turn.
    station.close();

    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(station.queue().isEmpty());
    EXPECT_EQ(label(Field::lProcesados), QString::number(kItems));
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(rowCount(), QString::number(kItems));
}

// --- the database away ----------------------------------------------------------------------------

// Lines keep coming while the database server is down: their rows wait, the operator sees how many
// and since when, and once the server is back every row is stored and the operator is told.
TEST_F(CoreStationTest, RowsWaitForADatabaseThatIsDownAndTheOperatorSeesHowMany) {
    constexpr int kItems = 5;
    PrivateFirebirdServer server;
    ASSERT_TRUE(server.start()) << qPrintable(server.error());
    const QString eddb = server.connectionString(u"core.fdb"_s);
    ASSERT_NO_THROW(storage::createDatabase(eddb));
    server.kill();
    storePort(QString::number(freePort()));
    {
        config::SettingsStore store(settingsFile());
        ASSERT_FALSE(store.load().has_value());
        store.writeString(station::FormStorage::kKey, u"Eddb_Text"_s, eddb);
        store.save();
    }
    app::CoreStation& station = startUp();
    QSignalSpy notices(&station.databaseBacklog(), &app::DatabaseBacklog::notice);
    const QString item = u"\x02"_s + u"127.0.0.1\t"_s + QString::fromLatin1(kDeviceLine);
    for (int i = 0; i < kItems; ++i)
        station.queue().append(item);

    const auto status = [&] { return station.databaseBacklog().statusText(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return status().contains(u"5 filas en espera desde"_s); }, kWaitMs * 3))
        << qPrintable(status());
    EXPECT_TRUE(status().startsWith(u"BD sin conexi\u00f3n: "_s));
    EXPECT_EQ(station.metrics().rowsWaiting, kItems);
    ASSERT_FALSE(notices.isEmpty());

    ASSERT_TRUE(server.start()) << qPrintable(server.error());
    ASSERT_TRUE(QTest::qWaitFor([&] { return status().isEmpty(); }, kWaitMs * 3)) << qPrintable(status());
    EXPECT_EQ(notices.last().at(0).toString(),
              u"BD conectada de nuevo: todas las filas en espera quedaron guardadas"_s);
    EXPECT_EQ(station.metrics().rowsStored, quint64(kItems));
    station.close();
    storage::StatementExecutor reader;
    reader.setDatabaseName(eddb);
    ASSERT_TRUE(reader.consultar(u"select count(*) from paquetes"_s)) << qPrintable(reader.ultimo_error());
    EXPECT_EQ(reader.ultimo_resultado(), QString::number(kItems));
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
}

// A disk that takes nothing more: the devices are held back, the lines read so far wait, and once
// there is room every one of them becomes a row.
TEST_F(CoreStationTest, AFullDiskHoldsTheDevicesBackAndLosesNothing) {
    constexpr int kLines = 20;
    const quint16 port = freePort();
    storePort(QString::number(port));
    app::CoreStation& station = startUp();
    std::atomic<bool> full = true;
    const auto disk = [&full](qint64) { return full ? ENOSPC : 0; };
    station.rowOutbox().setWriteFault(disk);
    ASSERT_NE(station.intakeJournal(), nullptr);
    station.intakeJournal()->setWriteFault(disk);

    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(device.waitForConnected(kWaitMs));
    for (int i = 0; i < kLines; ++i)
        device.write(kDeviceLine);
    ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return errors.join(u'\n').contains(u"la lectura de las c\u00e1maras se detiene"_s); }, kWaitMs))
        << qPrintable(errors.join(u'\n'));
    EXPECT_TRUE(station.queue().holdsBack());
    // The rows need no room meanwhile: they wait in memory for the group commit, and those the
    // database confirms first never go to the disk at all.
    full = false;
    const QString all = QString::number(kLines);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label(Field::lProcesados) == all; }, kWaitMs * 3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.rowOutbox().pendingCount() == 0; }, kWaitMs * 3));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return errors.join(u'\n').contains(u"Hay espacio en el disco otra vez"_s); }, kWaitMs));
    station.close();
    EXPECT_EQ(rowCount(), all);
}

// Journals that cannot be opened in the working folder are told, and no line is taken that could
// not be kept (the devices wait, as on a full disk); once they can be opened every line is stored.
TEST_F(CoreStationTest, JournalsThatCannotBeOpenedHoldTheDevicesBackUntilTheyCan) {
    ASSERT_TRUE(QDir().mkdir(u"lecturas.diario"_s));
    ASSERT_TRUE(QDir().mkdir(u"filas.diario"_s));
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return errors.join(u'\n').contains(u"la lectura de las c\u00e1maras se detiene"_s); }, kWaitMs))
        << qPrintable(errors.join(u'\n'));
    EXPECT_TRUE(errors.join(u'\n').contains(u"filas.diario"_s)) << qPrintable(errors.join(u'\n'));
    EXPECT_TRUE(station.queue().holdsBack());

    ASSERT_TRUE(QDir().rmdir(u"lecturas.diario"_s));
    ASSERT_TRUE(QDir().rmdir(u"filas.diario"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !station.queue().holdsBack(); }, kWaitMs * 3));
    station.queue().append(u"\x02"_s + u"127.0.0.1\t"_s + QString::fromLatin1(kDeviceLine));
    ASSERT_TRUE(QTest::qWaitFor([&] { return label(Field::lProcesados) == u"1"_s; }, kWaitMs * 3));
    station.close();
    EXPECT_EQ(rowCount(), u"1"_s);
}

// --- the serial line -----------------------------------------------------------------------------

const QString kMonitoringCom3 =
    u"Monitoreando en el puerto serial: COM3, Baudios: 9600, Data bits:8, Paridad:Ninguna, Bits de Parada:1"_s;

TEST_F(CoreStationTest, NetworkRecordAfterASerialLineIsStillStored) {
    storeSerialDevice();
    app::CoreStation& station = startUp();
    ASSERT_EQ(label(Field::Label51), kMonitoringCom3);

    QSignalSpy logged(&station.logRS232(), &station::RawLog::appended);
    ASSERT_TRUE(serialDevice.write(kDeviceLine.trimmed() + "\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged.count() == 1; }, kWaitMs));
    // The serial line named itself the current origin; a network record queued now is not its.
    station.queue().append(u"\x02"_s + u"127.0.0.1\t"_s + QString::fromLatin1(kDeviceLine));
    ASSERT_TRUE(QTest::qWaitFor([&] { return label(Field::lProcesados) == u"1"_s; }, kWaitMs));

    EXPECT_EQ(logged.count(), 1);
    // The serial line went out with the run's first periodic save.
    const QStringList saved = QDir(u"Datos Orvane/RS232"_s).entryList({u"*.txt"_s}, QDir::Files);
    ASSERT_EQ(saved.size(), 1) << qPrintable(saved.join(u' '));
    EXPECT_EQ(contents(u"Datos Orvane/RS232/"_s + saved[0]), kDeviceLine.trimmed() + "\r\n");
    station.close();
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(rowCount(), u"1"_s);
}

TEST_F(CoreStationTest, CloseShutsTheSerialPortBeforeItWritesTheLogs) {
    storeSerialDevice();
    app::CoreStation& station = startUp();
    ASSERT_TRUE(station.serialIntake().isOpen());
    // The first line goes out with the run's first periodic save; the next waits for its interval.
    QSignalSpy logged(&station.logRS232(), &station::RawLog::appended);
    ASSERT_TRUE(serialDevice.write("primera\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged.count() == 1; }, kWaitMs));
    ASSERT_TRUE(serialDevice.write("antes del cierre\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.logRS232().size() == 1; }, kWaitMs));
    // The close stops at the camera names and leaves the station up: no serial line may wake
    // the stopped tick from now on.
    ASSERT_TRUE(QDir().mkdir(u"NombreCamaras.txt"_s));

    station.close();
    EXPECT_FALSE(station.serialIntake().isOpen());
    ASSERT_TRUE(QDir().rmdir(u"NombreCamaras.txt"_s));
    station.close();

    EXPECT_FALSE(station.serialIntake().isOpen());
    const QStringList written = QDir(u"RS232"_s).entryList({u"*.txt"_s}, QDir::Files);
    ASSERT_EQ(written.size(), 1) << qPrintable(written.join(u' '));
    EXPECT_TRUE(contents(u"RS232/"_s + written[0]).contains("antes del cierre"));
}

TEST_F(CoreStationTest, NewSerialSettingsAfterPararOpenThePortAndSendAck) {
    storeSerialDevice();
    app::CoreStation& station = startUp();
    station.parar();
    ASSERT_FALSE(station.serialIntake().isOpen());
    EXPECT_EQ(label(Field::Label51), u"Puerto com Cerrado"_s);
    QSignalSpy changed(&station, &app::CoreStation::serialPortChanged);

    config::SerialPortSettings chosen = station.serialPort();
    chosen.Baud = 115200;
    chosen.DataBits = 7;
    chosen.StopBits = 0;
    chosen.parity = config::Parity::Mark;
    chosen.SWFlowOptions = config::SoftwareFlow::Both; // not the dialog's to change
    station.setSerialPort(chosen);

    EXPECT_EQ(serialDevice.read(3, kWaitMs), QByteArray("ACK"));
    EXPECT_TRUE(station.serialIntake().isOpen());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(station.serialPort().Baud, 115200);
    EXPECT_EQ(station.serialPort().parity, config::Parity::Mark);
    EXPECT_EQ(station.serialPort().SWFlowOptions, config::SoftwareFlow::None);
    // The status says what the port does now, not what it did before Parar.
    EXPECT_EQ(label(Field::Label51), u"Monitoreando en el puerto serial: COM3, Baudios: 115200, Data bits:7, "
                                     u"Paridad:Marca, Bits de Parada:0"_s);

    station.close();
    config::SettingsStore stored(settingsFile());
    ASSERT_FALSE(stored.load().has_value());
    EXPECT_EQ(stored.readInteger(station::FormStorage::kKey, u"ApdComPort1_Baud"_s), 115200);
    EXPECT_EQ(stored.readString(station::FormStorage::kKey, u"ApdComPort1_Parity"_s), u"pMark"_s);
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
}

TEST_F(CoreStationTest, SerialPortMissingAtTheStartIsReportedAndTriedAgain) {
    storeSerialDevice();
    ASSERT_TRUE(dosdevices.link(3, u"/nonexistent/tty"_s)); // the adapter is not plugged in yet
    app::CoreStation& station = startUp();

    EXPECT_FALSE(station.serialIntake().isOpen());
    EXPECT_TRUE(station.serialIntake().reopening());
    EXPECT_EQ(errors,
              QStringList{u"No existe el puerto serial COM3 (%1/Tarvenix/dosdevices/com3); se intenta "
                          u"abrirlo de nuevo cada 5 s"_s.arg(dosdevices.path())});
    EXPECT_EQ(label(Field::Label51), u"Puerto serial"_s);
}

struct RefusedSerialCase {
    const char* name;
    std::function<void(config::SerialPortSettings&)> change;
    QString error;
};

void PrintTo(const RefusedSerialCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedSerialSettings : public CoreStationTest,
                              public ::testing::WithParamInterface<RefusedSerialCase> {};

TEST_P(RefusedSerialSettings, AreNotTakenAndThePortGoesOn) {
    storeSerialDevice();
    app::CoreStation& station = startUp();
    ASSERT_TRUE(station.serialIntake().isOpen());
    const config::SerialPortSettings before = station.serialPort();
    QSignalSpy changed(&station, &app::CoreStation::serialPortChanged);
    config::SerialPortSettings chosen = before;
    GetParam().change(chosen);

    station.setSerialPort(chosen);

    EXPECT_EQ(errors,
              QStringList{GetParam().error + u"; el puerto sigue con su configuraci\u00f3n anterior"_s});
    EXPECT_EQ(station.serialPort(), before);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(station.serialIntake().isOpen());
    // Not in the settings file either: the next start uses the old ones.
    station.close();
    config::SettingsStore stored(settingsFile());
    ASSERT_FALSE(stored.load().has_value());
    EXPECT_EQ(stored.readInteger(station::FormStorage::kKey, u"ApdComPort1_ComNumber"_s), 3);
    EXPECT_EQ(stored.readInteger(station::FormStorage::kKey, u"ApdComPort1_Baud"_s), 9600);
}

INSTANTIATE_TEST_SUITE_P(
    Puerto, RefusedSerialSettings,
    ::testing::Values(
        RefusedSerialCase{
            "NegativePort", [](config::SerialPortSettings& s) { s.ComNumber = -1; },
            u"No existe el puerto serial COM-1: los puertos se numeran desde 1 (0 es ninguno)"_s},
        RefusedSerialCase{"NoSpeed", [](config::SerialPortSettings& s) { s.Baud = 0; },
                          u"El puerto serial COM3 no acepta Baudios: 0"_s},
        RefusedSerialCase{"NegativeSpeed", [](config::SerialPortSettings& s) { s.Baud = -9600; },
                          u"El puerto serial COM3 no acepta Baudios: -9600"_s},
        RefusedSerialCase{"NegativeDataBits", [](config::SerialPortSettings& s) { s.DataBits = -8; },
                          u"El puerto serial COM3 no acepta Data bits: -8"_s},
        RefusedSerialCase{"ThreeStopBits", [](config::SerialPortSettings& s) { s.StopBits = 3; },
                          u"El puerto serial COM3 no acepta Bits de Parada: 3"_s}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoreStationTest, SerialSettingsWithoutAPortAreKeptAndTheFailedOpenReported) {
    storeSerialDevice();
    app::CoreStation& station = startUp();
    config::SerialPortSettings chosen = station.serialPort();
    chosen.ComNumber = 0;

    station.setSerialPort(chosen);

    EXPECT_EQ(errors, QStringList{u"No hay puerto serial seleccionado (COM0)"_s});
    EXPECT_EQ(station.serialPort().ComNumber, 0);
    EXPECT_FALSE(station.serialIntake().isOpen());
    EXPECT_EQ(label(Field::Label51), u"Puerto com Cerrado"_s);
}

} // namespace

// --- the alert mail -------------------------------------------------------------------------------

namespace {

TEST_F(CoreStationTest, ASilentMailServerHoldsUpNeitherTheRecordsNorTheClose) {
    constexpr int kItems = 40;
    testsupport::SmtpPeer silent(u"silent"_s);
    ASSERT_TRUE(silent.started());
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    station.settings().setText(SettingId::EdMailserver, u"127.0.0.1"_s);
    station.settings().setText(SettingId::EdMailport, silent.portText());
    station.setCloseMailWait(std::chrono::milliseconds(300));
    // An unread H: every record raises an alert.
    QString line = QString::fromLatin1(kDeviceLine);
    line.replace(u"012.5x"_s, u"01?.5x"_s);
    for (int i = 0; i < kItems; ++i)
        station.queue().append(u"\x02"_s + u"127.0.0.1\t"_s + line);

    // Far sooner than the 30 s the server is given for each reply.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return label(Field::lProcesados) == QString::number(kItems); }, kWaitMs));
    EXPECT_EQ(label(Field::Lmalos), QString::number(kItems));
    EXPECT_EQ(silent.events(u"connect"_s).size(), 1) << "one mail in flight";
    EXPECT_EQ(station.alertMail().outbox().waitingAlerts(), kItems - 1) << "the others wait their turn";

    QSignalSpy closed(&station, &app::CoreStation::closed);
    station.close();
    EXPECT_TRUE(closed.wait(kWaitMs));
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(rowCount(), QString::number(kItems));
}

TEST_F(CoreStationTest, EveryAlertMailIsCountedSentOrFailedForTheMetrics) {
    testsupport::SmtpPeer server(u"no-auth"_s);
    ASSERT_TRUE(server.started());
    storePort(QString::number(freePort()));
    app::CoreStation& station = startUp();
    station.settings().setText(SettingId::EdMailserver, u"127.0.0.1"_s);
    station.settings().setText(SettingId::EdMailport, server.portText());
    QString line = QString::fromLatin1(kDeviceLine);
    line.replace(u"012.5x"_s, u"01?.5x"_s); // an unread H alerts at once
    const auto send = [&](int n) {
        for (int i = 0; i < n; ++i)
            station.queue().append(u"\x02"_s + u"127.0.0.1\t"_s + line);
    };

    send(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.metrics().alertsSent == 1; }, kWaitMs));
    EXPECT_TRUE(station.alerts().last().sent);
    EXPECT_TRUE(station.alerts().last().at.isValid());
    // Two failures in a row: the report speaks once, the count moves twice.
    station.settings().setText(SettingId::EdMailport, QString::number(freePort(QHostAddress::LocalHost)));
    send(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.metrics().alertsFailed == 1; }, kWaitMs));
    send(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.metrics().alertsFailed == 2; }, kWaitMs));
    EXPECT_EQ(station.metrics().alertsSent, 1u);
    EXPECT_FALSE(station.alerts().last().sent);
    EXPECT_EQ(station.metrics().readsBad, 3u);
    EXPECT_EQ(station.metrics().qualityPercent, 75.0);
}

TEST_F(CoreStationTest, AStoredTotalThatIsNoCountIsReportedAtTheStartAndCountsFromZero) {
    {
        config::SettingsStore store(settingsFile());
        store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s, QString::number(freePort()));
        store.writeString(station::FormStorage::kKey, u"Lmalos_Caption"_s, u"3x"_s);
        store.save();
    }
    app::CoreStation& station = startUp();
    EXPECT_EQ(errors.size(), 1) << qPrintable(errors.join(u'\n'));
    EXPECT_EQ(label(Field::Lmalos), u"0"_s);
    station.queue().append(u"\x02"_s + u"127.0.0.1\t"_s + QString::fromLatin1(kDeviceLine));
    EXPECT_TRUE(QTest::qWaitFor([&] { return label(Field::lProcesados) == u"1"_s; }, kWaitMs));
    EXPECT_EQ(label(Field::Lcalidad), u"100.00"_s);
    EXPECT_EQ(errors.size(), 1) << qPrintable(errors.join(u'\n'));
}

} // namespace
