#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/PaquetesTable.h"
#include "storage/RowWriter.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FreePort.h"
#include "tests/support/PrivateFirebirdServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/StationEnvironment.h"
#include "tests/support/StationMetricsScrape.h"
#include "tests/support/StationProcess.h"
#include "tools/ReadingGenerator.h"
#include "tools/SerialDevice.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kDevices = 3;
constexpr int kLinesPerDevice = 200;
constexpr int kWaitMs = 60000;

using testsupport::guideOf;

QMap<QString, double> scrape(quint16 port) {
    return testsupport::scrapeMetrics(port, kWaitMs);
}

// The headless station as it runs on a server: its own working directory and settings, devices on
// loopback, and a SIGTERM while it still has lines to work off.
class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        ASSERT_TRUE(m_config.isValid());
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::AnyIPv4, 0));
        m_port = probe.serverPort();
        probe.close();
        testsupport::storeStationSettings(m_config.path(), {{u"Edpuerto_Text"_s, QString::number(m_port)}});

        m_station.setProcessEnvironment(testsupport::stationEnvironment(m_config.path()));
        m_station.setWorkingDirectory(m_work.path());
        m_station.setProgram(QString::fromUtf8(ORVANEDB_PATH));
        m_station.setArguments({u"--console"_s});
    }

    void TearDown() override {
        if (m_fifo >= 0)
            ::close(m_fifo);
    }

    // Reads the station's standard output until `done` holds for what it printed, or the deadline.
    bool readUntil(const std::function<bool(const QString&)>& done) {
        const QDeadlineTimer deadline(kWaitMs);
        while (!done(m_printed)) {
            if (deadline.hasExpired() || m_station.state() == QProcess::NotRunning)
                return false;
            if (m_fifo < 0) {
                m_station.waitForReadyRead(int(deadline.remainingTime()));
                m_printed += QString::fromUtf8(m_station.readAllStandardOutput());
                continue;
            }
            pollfd p{m_fifo, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 100))) > 0) {
                char chunk[4096];
                const ssize_t got = ::read(m_fifo, chunk, sizeof chunk);
                if (got > 0)
                    m_printed += QString::fromUtf8(chunk, got);
            }
        }
        return true;
    }

    // Standard output into a named pipe the test reads only when it chooses to.
    void outputToFifo() {
        const QString path = m_work.filePath(u"salida"_s);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // Opened for both ends, so that the station's open finds a reader and never blocks.
        m_fifo = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_fifo, 0);
        m_station.setStandardOutputFile(path);
    }

    // Fills the named pipe, so that the station's next write finds no room.
    void stallFifo() {
        const QByteArray junk(4096, '\n');
        while (::write(m_fifo, junk.constData(), junk.size()) > 0) {
        }
    }

    // Sends `lines` generated lines from each of `devices` devices; answers their guides.
    QSet<QString> send(int devices, int lines) {
        QSet<QString> guides;
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int d = 0; d < devices; ++d) {
            auto& device = sockets.emplace_back(std::make_unique<QTcpSocket>());
            device->connectToHost(QHostAddress::LocalHost, m_port);
            EXPECT_TRUE(device->waitForConnected(kWaitMs));
            tools::ReadingGenerator generator(20240105, d + 1);
            QByteArray bytes;
            for (int i = 0; i < lines; ++i) {
                const QByteArray line = generator.next();
                guides.insert(guideOf(line));
                bytes += line;
            }
            device->write(bytes);
        }
        for (auto& device : sockets) {
            while (device->bytesToWrite() > 0)
                EXPECT_TRUE(device->waitForBytesWritten(kWaitMs));
        }
        return guides;
    }

    QString database() const {
        return m_database.isEmpty() ? m_work.filePath(u"ROVEZOD30.FDB"_s) : m_database;
    }

    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QString m_database; // empty: the embedded default in the working directory
    quint16 m_port = 0;
    testsupport::StationProcess m_station;
    QString m_printed;
    int m_fifo = -1;
};

enum class Output {
    Read,       // the test reads the station's standard output to the end
    ReaderGone, // the reader goes away before the signal
    Stalled,    // a pipe nobody reads fills up before the signal
};

struct SignalCase {
    const char* name;
    int signal;
    Output output;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class ClosingSignal : public EndToEndTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(ClosingSignal, WithLinesQueuedStoresEveryRowAndExitsCleanly) {
    const SignalCase& c = GetParam();
    if (c.output == Output::Stalled)
        outputToFifo();
    const quint16 metricsPort = testsupport::freePort(QHostAddress::LocalHost);
    m_station.setArguments({u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(metricsPort)});
    m_station.start();
    ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());
    ASSERT_TRUE(readUntil([](const QString& out) {
        return out.contains(u"Orvane Monitoreando en puerto"_s);
    })) << qPrintable(m_printed)
        << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    EXPECT_TRUE(m_printed.contains(u"Orvane Monitoreando en puerto  :"_s + QString::number(m_port)));

    const QSet<QString> sent = send(kDevices, kLinesPerDevice);
    const int total = kDevices * kLinesPerDevice;
    ASSERT_EQ(sent.size(), total);

    // Every line read (what is still in the sockets at the signal is no line the station received),
    // and at one line per tick most of it still queued.
    static const QRegularExpression record(u"^\\d{12} \\S+ (GUIA[A-Z0-9]{20}) "_s,
                                           QRegularExpression::MultilineOption);
    ASSERT_TRUE(readUntil([](const QString& out) { return record.match(out).hasMatch(); }))
        << qPrintable(m_printed);
    const QDeadlineTimer read(kWaitMs);
    while (scrape(metricsPort).value(u"orvanedb_lines_received_total"_s) < total && !read.hasExpired()) {
    }
    ASSERT_FALSE(read.hasExpired()) << "the station never read every line";
    const qsizetype printedBeforeTerm = m_printed.count(u'\n');
    if (c.output == Output::ReaderGone)
        m_station.closeReadChannel(QProcess::StandardOutput);
    if (c.output == Output::Stalled)
        stallFifo();
    ASSERT_EQ(::kill(pid_t(m_station.processId()), c.signal), 0);

    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    m_printed += QString::fromUtf8(m_station.readAllStandardOutput());
    const QString errors = QString::fromUtf8(m_station.readAllStandardError());
    EXPECT_EQ(m_station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(errors);
    EXPECT_LT(printedBeforeTerm, total) << "the lines were no longer queued at the SIGTERM";

    // One console line per stored record.
    if (c.output == Output::Read) {
        QSet<QString> printed;
        int printedLines = 0;
        for (auto it = record.globalMatch(m_printed); it.hasNext(); ++printedLines)
            printed.insert(it.next().captured(1));
        EXPECT_EQ(printedLines, total);
        EXPECT_TRUE(printed == sent) << (sent - printed).size() << " guides sent were never printed";
    }

    storage::StatementExecutor reader;
    reader.setDatabaseName(database());
    ASSERT_TRUE(reader.consultar(u"select count(*) from paquetes"_s)) << qPrintable(reader.ultimo_error());
    EXPECT_EQ(reader.ultimo_resultado(), QString::number(total));
    ASSERT_TRUE(reader.consultar(u"select count(distinct paquete) from paquetes"_s));
    EXPECT_EQ(reader.ultimo_resultado(), QString::number(total));
    int missing = 0;
    for (const QString& guide : std::as_const(sent)) {
        ASSERT_TRUE(reader.consultar(u"select count(*) from paquetes where paquete = ?"_s, {guide}));
        missing += reader.ultimo_resultado() == u"1"_s ? 0 : 1;
    }
    EXPECT_EQ(missing, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Console, ClosingSignal,
    ::testing::Values(SignalCase{"Sigterm", SIGTERM, Output::Read},
                      SignalCase{"Sighup", SIGHUP, Output::Read},
                      // Its next record line meets a pipe nobody reads.
                      SignalCase{"SigtermWithTheOutputsReaderGone", SIGTERM, Output::ReaderGone},
                      SignalCase{"SigtermWithTheOutputStalled", SIGTERM, Output::Stalled}),
    [](const auto& info) { return std::string(info.param.name); });

// A serial device wired to the headless station: a pseudo-terminal pair (socat) stands for the
// cable, the simulator's serial device plays the device on one end, COM3 links to the other.
TEST_F(EndToEndTest, SerialDeviceLinesReachTheHeadlessStation) {
    constexpr int kLines = 5;
    const QString socatProgram = QStandardPaths::findExecutable(u"socat"_s);
    ASSERT_FALSE(socatProgram.isEmpty()) << "scripts/deps installs socat";
    const QString stationEnd = m_work.filePath(u"station-end"_s);
    const QString deviceEnd = m_work.filePath(u"device-end"_s);
    QProcess cable;
    cable.start(socatProgram,
                {u"pty,raw,echo=0,link="_s + stationEnd, u"pty,raw,echo=0,link="_s + deviceEnd});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QFile::exists(stationEnd) && QFile::exists(deviceEnd); }, kWaitMs));
    ASSERT_TRUE(QDir(m_config.path()).mkpath(u"Tarvenix/dosdevices"_s));
    ASSERT_TRUE(QFile::link(stationEnd, m_config.filePath(u"Tarvenix/dosdevices/com3"_s)));
    config::SettingsStore store(m_config.filePath(u"Tarvenix/OrvaneDB.reg"_s));
    ASSERT_FALSE(store.load().has_value());
    store.writeInteger(station::FormStorage::kKey, u"ApdComPort1_ComNumber"_s, 3);
    store.save();

    m_station.start();
    ASSERT_TRUE(readUntil([](const QString& out) {
        return out.contains(u"Monitoreando en el puerto serial: COM3"_s);
    })) << qPrintable(m_printed)
        << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));

    tools::SerialDevice::Options options;
    options.path = deviceEnd;
    options.lines = kLines;
    options.linesPerSecond = 0;
    tools::SerialDevice device(options);
    QSignalSpy finished(&device, &tools::SerialDevice::finished);
    ASSERT_TRUE(device.start()) << qPrintable(device.errorString());
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(device.counts().lines, quint64(kLines));

    ASSERT_TRUE(readUntil([](const QString& out) { return out.count(u"rs232: "_s) == kLines; }))
        << qPrintable(m_printed);
    tools::ReadingGenerator same(options.seed, 1);
    for (int i = 0; i < kLines; ++i) {
        const QString guide = guideOf(same.next());
        EXPECT_TRUE(m_printed.contains(guide)) << qPrintable(guide);
    }
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    // The close wrote the serial log.
    const QStringList logs = QDir(m_work.filePath(u"RS232"_s)).entryList({u"*.txt"_s}, QDir::Files);
    EXPECT_EQ(logs.size(), 1);
    cable.kill();
    cable.waitForFinished(kWaitMs);
}

TEST_F(EndToEndTest, MetricsFollowTheLinesAsTheyAreStored) {
    const quint16 metricsPort = testsupport::freePort(QHostAddress::LocalHost);
    m_station.setArguments({u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(metricsPort)});
    m_station.start();
    ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());
    ASSERT_TRUE(readUntil([](const QString& out) {
        return out.contains(u"Orvane Monitoreando en puerto"_s);
    })) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));

    QMap<QString, double> before = scrape(metricsPort);
    ASSERT_EQ(before.size(), 13) << "not every metric is served";
    EXPECT_EQ(before[u"orvanedb_lines_received_total"_s], 0);
    EXPECT_EQ(before[u"orvanedb_rows_stored_total"_s], 0);
    EXPECT_EQ(before[u"orvanedb_device_connections"_s], 0);
    EXPECT_EQ(before[u"orvanedb_database_connected"_s], 0);
    EXPECT_EQ(before[u"orvanedb_quality_percent"_s], 100);

    constexpr int kLines = 25;
    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(device.waitForConnected(kWaitMs));
    tools::ReadingGenerator generator(20240105, 1);
    for (int i = 0; i < kLines; ++i)
        device.write(generator.next());
    while (device.bytesToWrite() > 0)
        ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));

    QMap<QString, double> after;
    const QDeadlineTimer deadline(kWaitMs);
    do
        after = scrape(metricsPort);
    while (after.value(u"orvanedb_rows_stored_total"_s) < kLines && !deadline.hasExpired());
    EXPECT_EQ(after[u"orvanedb_rows_stored_total"_s], kLines);
    EXPECT_EQ(after[u"orvanedb_lines_received_total"_s], kLines);
    EXPECT_EQ(after[u"orvanedb_rows_refused_total"_s], 0);
    EXPECT_EQ(after[u"orvanedb_queue_length"_s], 0);
    EXPECT_EQ(after[u"orvanedb_device_connections"_s], 1);
    EXPECT_EQ(after[u"orvanedb_database_connected"_s], 1);
    EXPECT_LT(after[u"orvanedb_seconds_since_last_row"_s], kWaitMs / 1000.0);

    device.disconnectFromHost();
    const QDeadlineTimer gone(kWaitMs);
    while (scrape(metricsPort).value(u"orvanedb_device_connections"_s) != 0 && !gone.hasExpired()) {
    }
    EXPECT_FALSE(gone.hasExpired()) << "the closed device connection is still counted";

    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
}

// Port 0 lets the system choose; the station says which, so that it can be scraped.
TEST_F(EndToEndTest, AMetricsPortChosenByTheSystemIsTold) {
    m_station.setArguments({u"--console"_s, u"--metrics"_s, u"127.0.0.1:0"_s});
    m_station.start();
    static const QRegularExpression told(u"M\u00e9tricas en http://127\\.0\\.0\\.1:(\\d+)/metrics"_s);
    QString errors;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            errors += QString::fromUtf8(m_station.readAllStandardError());
            return told.match(errors).hasMatch();
        },
        kWaitMs))
        << qPrintable(errors);
    const auto port = quint16(told.match(errors).captured(1).toUInt());
    EXPECT_NE(port, 0);
    EXPECT_EQ(scrape(port).value(u"orvanedb_rows_stored_total"_s, -1), 0);
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
}

TEST_F(EndToEndTest, AMetricsAddressThatCannotBeListenedOnEndsTheStationWithStatus2) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    m_station.setArguments(
        {u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(taken.serverPort())});
    m_station.start();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(m_station.exitCode(), 2);
    EXPECT_TRUE(m_station.readAllStandardError().contains("--metrics"));
}

// ---- Traffic shapes ------------------------------------------------------------------------------

// A burst or a faulty device never holds the other devices back: the station works a backlog off in
// seconds, and one device's flood or broken line costs the others nothing.
enum class Shape {
    FourTimesTheOldCeiling,
    EmptyLineFloodBesideASlowDevice,
    BurstOf3000Devices,
    OverLongLine
};

void PrintTo(Shape shape, std::ostream* os) {
    constexpr const char* kNames[] = {"FourTimesTheOldCeiling", "EmptyLineFloodBesideASlowDevice",
                                      "BurstOf3000Devices", "OverLongLine"};
    *os << kNames[int(shape)];
}

class TrafficShape : public EndToEndTest, public ::testing::WithParamInterface<Shape> {
protected:
    void startStation() {
        m_metrics = testsupport::freePort(QHostAddress::LocalHost);
        m_station.setArguments(
            {u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(m_metrics)});
        // Files take what the station prints without ever pushing back on it.
        m_station.setStandardOutputFile(m_work.filePath(u"salida.txt"_s));
        m_station.setStandardErrorFile(m_work.filePath(u"errores.txt"_s));
        m_station.start();
        ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return output(u"salida.txt"_s).contains(u"Orvane Monitoreando"_s); }, kWaitMs))
            << qPrintable(output(u"errores.txt"_s));
    }

    QString output(const QString& name) const {
        QFile file(m_work.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    double metric(const QString& name) const { return scrape(m_metrics).value(name, -1); }

    // Whether `rows` rows are committed within `ms`.
    bool storedWithin(int rows, int ms) const {
        return QTest::qWaitFor([&] { return metric(u"orvanedb_rows_stored_total"_s) >= rows; }, ms);
    }

    // A device that sends `rate` generated lines a second for `seconds`; answers their guides.
    QStringList sendAtRate(QTcpSocket& device, tools::ReadingGenerator& generator, int rate, int seconds) {
        QStringList guides;
        QElapsedTimer clock;
        clock.start();
        while (guides.size() < rate * seconds) {
            const qint64 due = std::min<qint64>(clock.elapsed() * rate / 1000 + 1, qint64(rate) * seconds);
            while (guides.size() < due) {
                const QByteArray line = generator.next();
                guides << guideOf(line);
                device.write(line);
            }
            QTest::qWait(5);
        }
        while (device.bytesToWrite() > 0)
            EXPECT_TRUE(device.waitForBytesWritten(kWaitMs));
        return guides;
    }

    quint16 m_metrics = 0;
};

TEST_P(TrafficShape, KeepsUpAndHoldsNoDeviceBack) {
    startStation();
    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(device.waitForConnected(kWaitMs));
    tools::ReadingGenerator generator(20261210, 1);
    int rows = 0;

    switch (GetParam()) {
    case Shape::FourTimesTheOldCeiling: {
        // One line per 5 ms tick would have stored 200 a second and fallen ever further behind.
        rows = sendAtRate(device, generator, 720, 5).size();
        EXPECT_TRUE(storedWithin(rows, 8000)) << metric(u"orvanedb_rows_stored_total"_s) << " of " << rows;
        EXPECT_TRUE(QTest::qWaitFor([&] { return metric(u"orvanedb_queue_length"_s) == 0; }, kWaitMs));
        break;
    }
    case Shape::EmptyLineFloodBesideASlowDevice: {
        QTcpSocket flood;
        flood.connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(flood.waitForConnected(kWaitMs));
        flood.write(QByteArray(200000, '\n'));
        ASSERT_TRUE(QTest::qWaitFor([&] { return metric(u"orvanedb_queue_length"_s) > 10000; }, kWaitMs));
        // Each line of the slow device is stored within a second or two of its sending (a held-back
        // device waited minutes): twice that is allowed for a sanitized build beside other tests.
        for (rows = 1; rows <= 5; ++rows) {
            device.write(generator.next());
            ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
            QElapsedTimer sent;
            sent.start();
            ASSERT_TRUE(storedWithin(rows, 4000)) << "line " << rows << " of the slow device";
            QTest::qWait(int(std::max<qint64>(0, 1000 - sent.elapsed())));
        }
        --rows;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return metric(u"orvanedb_lines_received_total"_s) == 200000 + rows &&
                       metric(u"orvanedb_queue_length"_s) == 0;
            },
            kWaitMs))
            << "the flood was not worked off";
        break;
    }
    case Shape::BurstOf3000Devices: {
        rows = 3000;
        std::vector<std::unique_ptr<QTcpSocket>> devices;
        for (int d = 0; d < rows; ++d) {
            auto& socket = devices.emplace_back(std::make_unique<QTcpSocket>());
            socket->connectToHost(QHostAddress::LocalHost, m_port);
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return std::all_of(devices.begin(), devices.end(), [](const auto& socket) {
                    return socket->state() == QAbstractSocket::ConnectedState;
                });
            },
            kWaitMs));
        for (int d = 0; d < rows; ++d)
            devices[std::size_t(d)]->write(tools::ReadingGenerator(20261210, d + 2).next());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return std::all_of(devices.begin(), devices.end(),
                                   [](const auto& socket) { return socket->bytesToWrite() == 0; });
            },
            kWaitMs));
        EXPECT_TRUE(storedWithin(rows, 10000)) << metric(u"orvanedb_rows_stored_total"_s) << " of " << rows;
        break;
    }
    case Shape::OverLongLine: {
        // The too long line is cut and worked as any broken line; the next one on the same
        // connection is read and stored, and the device is told of once.
        const QByteArray first = generator.next();
        const QByteArray second = generator.next();
        device.write(QByteArray(20000, 'x') + '\n' + first + QByteArray(17000, 'y') + "\r\n" + second);
        ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
        rows = 2;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return metric(u"orvanedb_lines_received_total"_s) == 4 &&
                       metric(u"orvanedb_queue_length"_s) == 0;
            },
            kWaitMs));
        EXPECT_EQ(metric(u"orvanedb_device_connections"_s), 1) << "the connection stays open";
        EXPECT_TRUE(storedWithin(rows, kWaitMs));
        EXPECT_EQ(output(u"errores.txt"_s).count(u"m\u00e1s de 16384 bytes"_s), 1)
            << qPrintable(output(u"errores.txt"_s));
        for (const QByteArray& line : {first, second})
            EXPECT_TRUE(output(u"salida.txt"_s).contains(guideOf(line))) << qPrintable(guideOf(line));
        break;
    }
    }
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(output(u"errores.txt"_s));
}

INSTANTIATE_TEST_SUITE_P(Shapes, TrafficShape,
                         ::testing::Values(Shape::FourTimesTheOldCeiling,
                                           Shape::EmptyLineFloodBesideASlowDevice, Shape::BurstOf3000Devices,
                                           Shape::OverLongLine),
                         [](const auto& info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });

} // namespace

// ---- Nothing read is lost ----------------------------------------------------------------------

class StoreAndForwardTest : public EndToEndTest {
protected:
    void startListening() {
        m_printed.clear();
        m_station.start();
        ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());
        ASSERT_TRUE(readUntil([](const QString& out) {
            return out.contains(u"Orvane Monitoreando en puerto"_s);
        })) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    }

    void useDatabase(const QString& eddb) {
        config::SettingsStore store(m_config.filePath(u"Tarvenix/OrvaneDB.reg"_s));
        store.load();
        store.writeString(station::FormStorage::kKey, u"Eddb_Text"_s, eddb);
        store.save();
    }

    // Waits until the running station has stored `rows` rows and none waits.
    bool storedAll(quint16 metricsPort, int rows) {
        const QDeadlineTimer deadline(kWaitMs);
        for (;;) {
            const QMap<QString, double> now = scrape(metricsPort);
            if (now.value(u"orvanedb_rows_stored_total"_s) == rows &&
                now.value(u"orvanedb_rows_waiting"_s) == 0)
                return true;
            if (deadline.hasExpired())
                return false;
            QTest::qWait(100);
        }
    }

    // Once the station has released its database.
    QString count(const QString& query) {
        storage::StatementExecutor reader;
        reader.setDatabaseName(database());
        EXPECT_TRUE(reader.consultar(query)) << qPrintable(reader.lastFailure());
        return reader.ultimo_resultado();
    }
};

// The database is a server's, as at a station in a hub: what the first run left must reach the
// database the settings name, not the built-in default; and a process killed inside the embedded
// engine could leave that engine's shared locks to the tests running beside it.
TEST_F(StoreAndForwardTest, AStationKilledWhileDevicesSendStoresEveryLineItReadExactlyOnce) {
    PrivateFirebirdServer server;
    ASSERT_TRUE(server.start()) << qPrintable(server.error());
    m_database = server.connectionString(u"killed.fdb"_s);
    ASSERT_NO_THROW(storage::createDatabase(m_database));
    useDatabase(m_database);
    const quint16 metricsPort = testsupport::freePort(QHostAddress::LocalHost);
    m_station.setArguments({u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(metricsPort)});
    startListening();
    constexpr int kDevicesHere = 3;
    constexpr int kLines = 200;
    const QSet<QString> guides = send(kDevicesHere, kLines);
    const int total = kDevicesHere * kLines;
    // Everything read, most of it still queued at one line per tick: then the kill.
    const QDeadlineTimer read(kWaitMs);
    while (scrape(metricsPort).value(u"orvanedb_lines_received_total"_s) < total && !read.hasExpired()) {
    }
    ASSERT_FALSE(read.hasExpired()) << "the station never read every line";
    ASSERT_EQ(::kill(pid_t(m_station.processId()), SIGKILL), 0);
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));

    // The lines the first run read and never stored are queued again before the station listens.
    startListening();
    const auto left = [&] {
        const QMap<QString, double> now = scrape(metricsPort);
        return now.value(u"orvanedb_queue_length"_s) + now.value(u"orvanedb_rows_waiting"_s);
    };
    const QDeadlineTimer stored(kWaitMs);
    while (left() > 0 && !stored.hasExpired())
        QTest::qWait(100);
    EXPECT_FALSE(stored.hasExpired())
        << left() << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    const QMap<QString, double> last = scrape(metricsPort);
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    const QString errors = QString::fromUtf8(m_station.readAllStandardError());
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(errors);
    EXPECT_EQ(count(u"select count(*) from paquetes"_s), QString::number(total))
        << qPrintable(errors) << " stored " << last.value(u"orvanedb_rows_stored_total"_s) << " received "
        << last.value(u"orvanedb_lines_received_total"_s);
    EXPECT_EQ(count(u"select count(distinct paquete) from paquetes"_s), QString::number(guides.size()));
}

// A database server that takes the connection and never answers: the lines are worked at full
// pace, SIGTERM ends the station within the writer's limit, and the rows wait for the next start.
TEST_F(StoreAndForwardTest, ADatabaseThatNeverAnswersHoldsUpNeitherTheLinesNorTheEnd) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    useDatabase(u"127.0.0.1/%1:/nada.fdb"_s.arg(silent.serverPort()));
    startListening();
    constexpr int kLines = 40;
    send(1, kLines);
    static const QRegularExpression record(u"^\\d{12} \\S+ GUIA"_s, QRegularExpression::MultilineOption);
    ASSERT_TRUE(readUntil([](const QString& out) { return out.count(record) == kLines; }))
        << qPrintable(m_printed);

    QElapsedTimer ending;
    ending.start();
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_LT(ending.elapsed(), (storage::RowWriter::kCloseWait + std::chrono::seconds(5)).count());
    EXPECT_EQ(m_station.exitCode(), 0);

    useDatabase(database());
    const quint16 metricsPort = testsupport::freePort(QHostAddress::LocalHost);
    m_station.setArguments({u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(metricsPort)});
    startListening();
    EXPECT_TRUE(storedAll(metricsPort, kLines));
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(count(u"select count(*) from paquetes"_s), QString::number(kLines));
}
