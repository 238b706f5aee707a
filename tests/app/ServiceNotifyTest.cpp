#include "app/CoreStation.h"
#include "app/CoreThread.h"
#include "app/ServiceNotifier.h"
#include "app/ServiceWatchdog.h"
#include "tests/support/FreePort.h"
#include "tests/support/SampleLines.h"
#include "tests/support/StationEnvironment.h"
#include "tests/support/StationProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 60000;

// The service manager's end: a datagram socket bound where NOTIFY_SOCKET names it ("/path", or
// "@name" in the abstract namespace).
class ManagerSocket final {
public:
    explicit ManagerSocket(QByteArray name)
        : m_name(std::move(name))
        , m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, m_name.constData(), std::size_t(m_name.size()));
        const bool abstract = m_name.startsWith('@');
        if (abstract)
            address.sun_path[0] = '\0';
        const auto length =
            socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(m_name.size()) + (abstract ? 0 : 1));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    }
    ~ManagerSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(ManagerSocket)

    bool bound() const { return m_bound; }
    const QByteArray& name() const { return m_name; }

    // The next datagram within `ms`; none when none came.
    std::optional<QByteArray> next(int ms) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got < 0)
            return std::nullopt;
        const QByteArray datagram(buffer, got);
        seen << datagram;
        return datagram;
    }

    // Reads until `state` comes; false at the deadline.
    bool waitFor(const QByteArray& state, int ms = kWaitMs) {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (next(int(deadline.remainingTime())) == state)
                return true;
        }
        return false;
    }

    // Lets go of what came so far.
    void drain() {
        while (next(0)) {
        }
    }

    QList<QByteArray> seen;

private:
    QByteArray m_name;
    int m_fd;
    bool m_bound = false;
};

// Runs the current thread's event loop for `ms`: timers on this thread fire meanwhile.
void runEvents(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents,
                                        int(std::max<qint64>(deadline.remainingTime(), 1)));
}

// Runs this thread's event loop until `count` datagrams came in all, or the deadline.
bool receiveWhileRunning(ManagerSocket& manager, qsizetype count) {
    const QDeadlineTimer deadline(kWaitMs);
    while (manager.seen.size() < count && !deadline.hasExpired()) {
        runEvents(20);
        manager.drain();
    }
    return manager.seen.size() >= count;
}

// --- the notifier ---------------------------------------------------------------------------------

TEST(ServiceNotifierTest, SendsToAPathAndToAnAbstractName) {
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QByteArray& name :
         {QFile::encodeName(dir.filePath(u"notify"_s)), "@orvanedb-test-" + QByteArray::number(::getpid())}) {
        ManagerSocket manager(name);
        ASSERT_TRUE(manager.bound()) << name.constData();
        const app::ServiceNotifier notifier(name);
        ASSERT_TRUE(notifier.active()) << name.constData();
        EXPECT_TRUE(notifier.send("READY=1"));
        EXPECT_EQ(manager.next(kWaitMs), QByteArray("READY=1")) << name.constData();
    }
}

struct EnvironmentCase {
    const char* name;
    QStringList variables; // NAME=value
    bool active;
    std::optional<std::chrono::microseconds> watchdog;
};

void PrintTo(const EnvironmentCase& c, std::ostream* os) {
    *os << c.name;
}

class NotifierEnvironment : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(NotifierEnvironment, TakesWhatTheManagerMeantForThisProcess) {
    QProcessEnvironment environment;
    for (const QString& variable : GetParam().variables)
        environment.insert(variable.section(u'=', 0, 0),
                           variable.section(u'=', 1).replace(u"$PID"_s, QString::number(::getpid())));
    const app::ServiceNotifier notifier = app::ServiceNotifier::fromEnvironment(environment);
    EXPECT_EQ(notifier.active(), GetParam().active);
    EXPECT_EQ(notifier.watchdogInterval(), GetParam().watchdog);
}

INSTANTIATE_TEST_SUITE_P(
    Service, NotifierEnvironment,
    ::testing::Values(
        EnvironmentCase{"NoSocket", {u"WATCHDOG_USEC=30000000"_s}, false, std::nullopt},
        EnvironmentCase{"RelativeSocket", {u"NOTIFY_SOCKET=notify"_s}, false, std::nullopt},
        EnvironmentCase{"EmptyAbstractName", {u"NOTIFY_SOCKET=@"_s}, false, std::nullopt},
        EnvironmentCase{
            "SocketWithoutWatchdog", {u"NOTIFY_SOCKET=/run/systemd/notify"_s}, true, std::nullopt},
        EnvironmentCase{"Watchdog",
                        {u"NOTIFY_SOCKET=@notify"_s, u"WATCHDOG_USEC=30000000"_s},
                        true,
                        std::chrono::microseconds(30'000'000)},
        EnvironmentCase{"WatchdogForThisProcess",
                        {u"NOTIFY_SOCKET=@notify"_s, u"WATCHDOG_USEC=30000000"_s, u"WATCHDOG_PID=$PID"_s},
                        true,
                        std::chrono::microseconds(30'000'000)},
        EnvironmentCase{"WatchdogForAnotherProcess",
                        {u"NOTIFY_SOCKET=@notify"_s, u"WATCHDOG_USEC=30000000"_s, u"WATCHDOG_PID=1"_s},
                        true,
                        std::nullopt},
        EnvironmentCase{
            "WatchdogOfNoTime", {u"NOTIFY_SOCKET=@notify"_s, u"WATCHDOG_USEC=0"_s}, true, std::nullopt},
        EnvironmentCase{
            "WatchdogNotANumber", {u"NOTIFY_SOCKET=@notify"_s, u"WATCHDOG_USEC=30s"_s}, true, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the watchdog ---------------------------------------------------------------------------------

// Lines that wait through two beats without the tick taking one mean a stuck tick: no beat until
// it takes one. An idle tick (nothing waits) never holds the beats back.
TEST(ServiceWatchdogTest, LinesThatWaitWithoutATickHoldTheBeatsBack) {
    const QTemporaryDir dir;
    ManagerSocket manager(QFile::encodeName(dir.filePath(u"notify"_s)));
    ASSERT_TRUE(manager.bound());
    const app::ServiceNotifier notifier(manager.name(), 40ms);
    app::TickProgress progress{7, true};
    app::ServiceWatchdog watchdog(notifier, [&progress] { return progress; });
    watchdog.start();

    runEvents(300); // some 15 beats
    EXPECT_FALSE(manager.next(0)) << "a beat while the lines waited";

    // One line taken: one beat, and none again while the next waits as long.
    progress.linesTaken = 8;
    ASSERT_TRUE(receiveWhileRunning(manager, 1));
    runEvents(300);
    manager.drain();
    EXPECT_EQ(manager.seen, QList<QByteArray>{"WATCHDOG=1"});

    // Nothing waits: the tick sleeps and the beats go on.
    progress.linesWaiting = false;
    manager.seen.clear();
    EXPECT_TRUE(receiveWhileRunning(manager, 3));
    EXPECT_EQ(manager.seen.count("WATCHDOG=1"), manager.seen.size());
    watchdog.stop();
}

// A core thread held up (here on purpose, as a call that never returns would) sends no beat; once
// it goes on, the beats come again.
TEST(ServiceWatchdogTest, NoBeatWhileTheCoreThreadIsHeld) {
    const QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path())); // the core's journals
    {
        ManagerSocket manager(QFile::encodeName(work.filePath(u"notify"_s)));
        ASSERT_TRUE(manager.bound());
        const app::ServiceNotifier notifier(manager.name(), 400ms);
        app::CoreThread coreThread;
        coreThread.notify(notifier);
        coreThread.start();
        ASSERT_TRUE(manager.waitFor("WATCHDOG=1"));

        QSemaphore entered;
        QSemaphore release;
        QMetaObject::invokeMethod(
            &coreThread.core(),
            [&] {
                entered.release();
                release.acquire();
            },
            Qt::QueuedConnection);
        ASSERT_TRUE(entered.tryAcquire(1, kWaitMs));
        // Whatever the thread sent before it was held is in the socket by now.
        manager.drain();
        EXPECT_EQ(manager.next(1000), std::nullopt) << "the held thread told the manager something";

        release.release();
        EXPECT_TRUE(manager.waitFor("WATCHDOG=1"));
        coreThread.stop();
    }
    QDir::setCurrent(previous);
}

// --- the console station under a service manager ----------------------------------------------

class ServiceNotifyProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        ASSERT_TRUE(m_config.isValid());
        m_port = testsupport::freePort();
        testsupport::storeStationSettings(m_config.path(), {{u"Edpuerto_Text"_s, QString::number(m_port)}});

        QProcessEnvironment environment = testsupport::stationEnvironment(m_config.path());
        environment.insert(u"NOTIFY_SOCKET"_s, QFile::decodeName(m_manager.name()));
        environment.insert(u"WATCHDOG_USEC"_s, QString::number(kWatchdog.count()));
        m_station.setProcessEnvironment(environment);
        m_station.setWorkingDirectory(m_work.path());
        m_station.setProgram(QString::fromUtf8(ORVANEDB_PATH));
        m_station.setArguments({u"--console"_s});
    }

    static constexpr std::chrono::microseconds kWatchdog{1'600'000};

    QTemporaryDir m_work;
    QTemporaryDir m_config;
    ManagerSocket m_manager{QFile::encodeName(m_work.filePath(u"notify"_s))};
    quint16 m_port = 0;
    testsupport::StationProcess m_station;
};

TEST_F(ServiceNotifyProcessTest, ReadyOnceListeningThenStatusWatchdogAndStopping) {
    ASSERT_TRUE(m_manager.bound());
    m_station.start();
    ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());

    ASSERT_TRUE(m_manager.waitFor("READY=1"))
        << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    // Ready means listening: a device connects at once.
    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(device.waitForConnected(kWaitMs)) << qPrintable(device.errorString());
    EXPECT_TRUE(m_manager.seen.contains("STATUS=0 filas guardadas, 0 en espera"))
        << qPrintable(QString::fromUtf8(m_manager.seen.join(" | ")));

    device.write(testsupport::kSampleDeviceLine.toLatin1() + '\n');
    ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
    EXPECT_TRUE(m_manager.waitFor("STATUS=1 fila guardada, 0 en espera"))
        << qPrintable(QString::fromUtf8(m_manager.seen.join(" | ")));

    // Half the manager's interval apart: never so late that the manager would give up, never a
    // flood. (Measured here, on the receiving side.)
    ASSERT_TRUE(m_manager.waitFor("WATCHDOG=1"));
    QElapsedTimer sinceLast;
    sinceLast.start();
    QList<qint64> gaps;
    while (gaps.size() < 3 && m_manager.waitFor("WATCHDOG=1"))
        gaps << sinceLast.restart();
    ASSERT_EQ(gaps.size(), 3);
    const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(kWatchdog).count();
    for (const qint64 gap : gaps) {
        EXPECT_GE(gap, interval / 4);
        EXPECT_LE(gap, interval);
    }

    m_station.terminate();
    EXPECT_TRUE(m_manager.waitFor("STOPPING=1"));
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(m_station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_station.exitCode(), 0) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    EXPECT_EQ(m_manager.seen.count("READY=1"), 1);
}

} // namespace
