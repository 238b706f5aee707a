#include "station/NetworkIntake.h"
#include "storage/PaquetesTable.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FreePort.h"
#include "tests/support/PrivateFirebirdServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SocketQueues.h"
#include "tests/support/StationEnvironment.h"
#include "tests/support/StationMetricsScrape.h"
#include "tests/support/StationProcess.h"
#include "tools/ReadingGenerator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include <csignal>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 60000;

using testsupport::guideOf;

QMap<QString, double> scrape(quint16 port) {
    return testsupport::scrapeMetrics(port, kWaitMs);
}

// The station's own process under a wrapper that started it; 0 when there is none.
pid_t stationUnder(pid_t top) {
    const QString program = QFileInfo(QString::fromUtf8(ORVANEDB_PATH)).canonicalFilePath();
    std::vector<pid_t> todo{top};
    while (!todo.empty()) {
        const pid_t pid = todo.back();
        todo.pop_back();
        if (QFileInfo(u"/proc/%1/exe"_s.arg(pid)).symLinkTarget() == program)
            return pid;
        QFile children(u"/proc/%1/task/%1/children"_s.arg(pid));
        if (children.open(QIODevice::ReadOnly)) {
            for (const QByteArray& child : children.readAll().simplified().split(' '))
                if (!child.isEmpty())
                    todo.push_back(child.toInt());
        }
    }
    return 0;
}

// A reading device as plain as they come: a non-blocking socket that writes long lines as fast as
// the system takes them, so that it feels the station's push-back, and knows where each line ends
// in its stream.
class FloodingDevice final {
public:
    static constexpr qsizetype kExtraBytes = 8000; // few lines fill the station's queue by bytes

    FloodingDevice(quint16 port, int number)
        : m_generator(20240611, number, {}, kExtraBytes) {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in station{};
        station.sin_family = AF_INET;
        station.sin_port = htons(port);
        station.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(m_socket, reinterpret_cast<sockaddr*>(&station), sizeof station), 0);
        ::fcntl(m_socket, F_SETFL, O_NONBLOCK);
        sockaddr_in own{};
        socklen_t length = sizeof own;
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&own), &length);
        m_port = ntohs(own.sin_port);
    }
    ~FloodingDevice() { ::close(m_socket); }
    Q_DISABLE_COPY_MOVE(FloodingDevice)

    // Writes until the system takes no more; whether it took anything.
    bool pump() {
        bool took = false;
        for (;;) {
            if (m_unsent.isEmpty()) {
                m_unsent = m_generator.next();
                m_generated += m_unsent.size();
                m_lines.push_back({m_generated, guideOf(m_unsent)});
            }
            const ssize_t sent =
                ::send(m_socket, m_unsent.constData(), size_t(m_unsent.size()), MSG_NOSIGNAL);
            if (sent <= 0)
                return took;
            m_written += sent;
            m_unsent.remove(0, sent);
            took = true;
        }
    }

    // Bytes that left this device's socket for the station's end.
    qint64 delivered() const { return m_written - testsupport::unsentOn(m_socket); }

    quint16 port() const { return m_port; }
    // The guides of the lines that end within the first `bytes` of the stream.
    QSet<QString> guidesWithin(qint64 bytes) const {
        QSet<QString> guides;
        for (const auto& [end, guide] : m_lines) {
            if (end <= bytes)
                guides.insert(guide);
        }
        return guides;
    }
    QSet<QString> allGuides() const { return guidesWithin(m_generated); }

private:
    tools::ReadingGenerator m_generator;
    int m_socket = -1;
    quint16 m_port = 0;
    QByteArray m_unsent;
    qint64 m_generated = 0;
    qint64 m_written = 0;
    std::vector<std::pair<qint64, QString>> m_lines;
};

// The headless station in a working folder of its own, with its metrics served.
class IntakeDurabilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        ASSERT_TRUE(m_config.isValid());
        m_port = testsupport::freePort();
        m_metricsPort = testsupport::freePort(QHostAddress::LocalHost);
        writeSetting(u"Edpuerto_Text"_s, QString::number(m_port));
        m_station.setProcessEnvironment(testsupport::stationEnvironment(m_config.path()));
        m_station.setWorkingDirectory(m_work.path());
        run({});
    }

    void writeSetting(const QString& name, const QString& value) {
        testsupport::storeStationSettings(m_config.path(), {{name, value}});
    }

    // The station itself, or the station started by `wrapper` (its last argument the program).
    void run(const QStringList& wrapper) {
        QStringList arguments = wrapper;
        arguments << QString::fromUtf8(ORVANEDB_PATH) << u"--console"_s << u"--metrics"_s
                  << u"127.0.0.1:"_s + QString::number(m_metricsPort);
        m_station.setProgram(arguments.takeFirst());
        m_station.setArguments(arguments);
    }

    void startListening() {
        m_station.start();
        ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());
        QString printed;
        ASSERT_TRUE(m_station.waitUntilListening(printed, kWaitMs))
            << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    }

    // Waits until `done` holds for the metrics; false at the deadline.
    bool metricsUntil(const std::function<bool(const QMap<QString, double>&)>& done) {
        const QDeadlineTimer deadline(kWaitMs);
        while (!done(scrape(m_metricsPort))) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(50);
        }
        return true;
    }

    static QString count(const QString& eddb, const QString& query) {
        storage::StatementExecutor reader;
        reader.setDatabaseName(eddb);
        EXPECT_TRUE(reader.consultar(query)) << qPrintable(reader.lastFailure());
        return reader.ultimo_resultado();
    }

    // How many of `guides` the table holds.
    static int present(const QString& eddb, const QSet<QString>& guides) {
        storage::StatementExecutor reader;
        reader.setDatabaseName(eddb);
        const QStringList all(guides.begin(), guides.end());
        int found = 0;
        for (qsizetype at = 0; at < all.size(); at += 100) {
            const QStringList chunk = all.mid(at, 100);
            storage::StatementValues values;
            for (const QString& guide : chunk)
                values.push_back(guide);
            const QString markers = QStringList(chunk.size(), u"?"_s).join(u',');
            EXPECT_TRUE(reader.consultar(
                u"select count(*) from paquetes where paquete in ("_s + markers + u')', values))
                << qPrintable(reader.lastFailure());
            found += reader.ultimo_resultado().toInt();
        }
        return found;
    }

    QTemporaryDir m_work;
    QTemporaryDir m_config;
    quint16 m_port = 0;
    quint16 m_metricsPort = 0;
    testsupport::StationProcess m_station;
};

// Devices flood the station until it pushes back, and it is killed right there. Every line the
// station took off a socket, whether queued, held back or half worked, is stored after the next
// start, and none twice; only what the system still held for it may be missing. What the station
// took is what left the devices' sockets less what the system still held on the station's end.
TEST_F(IntakeDurabilityTest, AStationKilledWhilePushingBackStoresEveryLineItTookExactlyOnce) {
    PrivateFirebirdServer server;
    ASSERT_TRUE(server.start()) << qPrintable(server.error());
    const QString eddb = server.connectionString(u"pushback.fdb"_s);
    ASSERT_NO_THROW(storage::createDatabase(eddb));
    writeSetting(u"Eddb_Text"_s, eddb);
    startListening();

    std::vector<std::unique_ptr<FloodingDevice>> devices;
    for (int d = 1; d <= 2; ++d)
        devices.push_back(std::make_unique<FloodingDevice>(m_port, d));
    // Until the station has stopped taking bytes from every device for a moment: it holds them
    // all back (bounded, should the tick keep letting them go).
    QElapsedTimer flooding;
    flooding.start();
    qint64 lastTaken = 0;
    while (flooding.elapsed() < 2500) {
        bool took = false;
        for (auto& device : devices)
            took = device->pump() || took;
        if (took)
            lastTaken = flooding.elapsed();
        else if (flooding.elapsed() - lastTaken > 100 && flooding.elapsed() > 500)
            break;
        QThread::msleep(1);
    }

    // Frozen, the station takes nothing more: first what left each device, then what the system
    // held for the station, so the difference never counts more than the station took.
    const auto pid = pid_t(m_station.processId());
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    QSet<QString> taken;
    qint64 takenBytes = 0;
    for (auto& device : devices) {
        const qint64 delivered = device->delivered();
        const qint64 unread = testsupport::unreadOnLoopback(m_port, device->port());
        ASSERT_GE(unread, 0);
        takenBytes += delivered - unread;
        // A read the station was working on when it froze, between taking it and journaling it,
        // is the one thing a kill at that instant can lose.
        taken += device->guidesWithin(delivered - unread - station::NetworkIntake::kSocketReadBuffer);
    }
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    QSet<QString> sent;
    for (auto& device : devices)
        sent += device->allGuides();
    devices.clear();
    ASSERT_GT(taken.size(), 0);

    startListening();
    EXPECT_TRUE(metricsUntil([](const QMap<QString, double>& now) {
        return now.value(u"orvanedb_queue_length"_s, 1) + now.value(u"orvanedb_rows_waiting"_s, 1) == 0;
    })) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    const QString errors = QString::fromUtf8(m_station.readAllStandardError());

    const int rows = count(eddb, u"select count(*) from paquetes"_s).toInt();
    EXPECT_EQ(count(eddb, u"select count(distinct paquete) from paquetes"_s).toInt(), rows)
        << "a line stored twice";
    EXPECT_EQ(present(eddb, taken), taken.size())
        << "of " << taken.size() << " lines taken (" << takenBytes << " bytes) some are missing; " << rows
        << " rows; " << qPrintable(errors);
    EXPECT_EQ(present(eddb, sent), rows) << "a row of no line sent";
}

// The embedded database's disk fills up under it: its rows wait, as for a database that is away,
// and none is refused; once there is room again every one is stored, and no dump is written. The
// database lives on a small file system of the station's own (bubblewrap), which the test fills.
TEST_F(IntakeDurabilityTest, AFullDiskUnderTheEmbeddedDatabaseKeepsItsRowsWaitingUntilThereIsRoom) {
    const QString bwrap = QStandardPaths::findExecutable(u"bwrap"_s);
    if (bwrap.isEmpty())
        GTEST_SKIP() << "bubblewrap is not installed";
    const QString disk = m_work.filePath(u"disco"_s);
    ASSERT_TRUE(QDir().mkpath(disk));
    const QStringList sandbox{bwrap,       u"--dev-bind"_s,           u"/"_s,       u"/"_s,
                              u"--size"_s, QString::number(32 << 20), u"--tmpfs"_s, disk};
    if (QProcess::execute(sandbox.first(), sandbox.mid(1) + QStringList{u"true"_s}) != 0)
        GTEST_SKIP() << "no file system of its own for a process on this machine";
    const QString database = disk + u"/ROVEZOD30.FDB"_s;
    const QString copy = m_work.filePath(u"copia.fdb"_s);
    writeSetting(u"Eddb_Text"_s, database);
    // The disk goes with the sandbox: the database is copied out once the station has ended.
    run(sandbox + QStringList{u"/bin/sh"_s, u"-c"_s,
                              u"\"$0\" \"$@\"; status=$?; cp '%1' '%2'; exit $status"_s.arg(database, copy)});
    startListening();
    const pid_t station = stationUnder(pid_t(m_station.processId()));
    ASSERT_NE(station, 0);

    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(device.waitForConnected(kWaitMs));
    tools::ReadingGenerator generator(20240612, 1);
    device.write(generator.next());
    ASSERT_TRUE(
        metricsUntil([](const auto& now) { return now.value(u"orvanedb_rows_stored_total"_s) == 1; }));

    // What room the database's disk has left is taken.
    QFile filler(u"/proc/%1/root%2/relleno"_s.arg(station).arg(disk));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly)) << qPrintable(filler.errorString());
    const QByteArray block(64 * 1024, '\0');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();

    constexpr int kLines = 1000;
    QByteArray lines;
    for (int i = 0; i < kLines; ++i)
        lines += generator.next();
    device.write(lines);
    EXPECT_TRUE(metricsUntil([](const auto& now) {
        return now.value(u"orvanedb_lines_received_total"_s) == kLines + 1 &&
               now.value(u"orvanedb_queue_length"_s, 1) == 0 && now.value(u"orvanedb_rows_waiting"_s) > 0 &&
               now.value(u"orvanedb_database_connected"_s, 1) == 0;
    })) << "the rows never waited: "
        << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));

    ASSERT_TRUE(QFile::remove(filler.fileName()));
    EXPECT_TRUE(metricsUntil([](const auto& now) {
        return now.value(u"orvanedb_rows_stored_total"_s) + now.value(u"orvanedb_rows_refused_total"_s) ==
                   kLines + 1 &&
               now.value(u"orvanedb_rows_waiting"_s, 1) == 0;
    }));
    EXPECT_EQ(scrape(m_metricsPort).value(u"orvanedb_rows_refused_total"_s, -1), 0);
    ASSERT_EQ(::kill(station, SIGTERM), 0);
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    const QString errors = QString::fromUtf8(m_station.readAllStandardError());
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(errors);
    EXPECT_TRUE(errors.contains(u"No space left on device"_s)) << qPrintable(errors);
    EXPECT_EQ(QDir(m_work.path()).entryList({u"Query-fallido-*"_s}), QStringList()) << qPrintable(errors);
    EXPECT_EQ(count(copy, u"select count(*) from paquetes"_s), QString::number(kLines + 1))
        << qPrintable(errors);
}

} // namespace
