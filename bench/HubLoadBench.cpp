// Many stations, one server, as in a parcel hub: one private Firebird server, N headless stations
// (each its own process, working folder, settings file and port), each fed one simulated device
// at a steady rate. Reports the rows per second the server took from all of them, checks that
// every line sent became exactly one row, and measures, per line, the time from its sending to
// its row being visible to another connection (committed).
//
//   bench_hub_load [--stations 1,2,4,8] [--seconds 20] [--rate 100]

#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/FirebirdClient.h"
#include "storage/PaquetesTable.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FreePort.h"
#include "tests/support/PrivateFirebirdServer.h"
#include "tools/ReadingGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStartMs = 30000;
constexpr int kCatchUpMs = 120000;

QString guideOf(const QByteArray& line) {
    return QString::fromLatin1(line.split('!').value(4).split('|').value(0));
}

// One headless station with its device.
struct Station {
    QTemporaryDir work;
    QTemporaryDir config;
    QProcess process;
    quint16 port = 0;
    QString origin; // the device's own loopback address: the rows' origen
    QTcpSocket device;
    std::unique_ptr<tools::ReadingGenerator> generator;
    std::vector<Clock::time_point> sentAt;
    std::vector<Clock::time_point> visibleAt; // filled by the poller
    QStringList guides;
};

bool startStation(Station& s, int index, const QString& eddb, const QString& program) {
    s.port = testsupport::freePort(QHostAddress::LocalHost);
    s.origin = u"127.0.0.%1"_s.arg(index + 2);
    config::SettingsStore store(s.config.filePath(u"Tarvenix/OrvaneDB.reg"_s));
    store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s, QString::number(s.port));
    store.writeString(station::FormStorage::kKey, u"Eddb_Text"_s, eddb);
    store.save();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CONFIG_HOME"_s, s.config.path());
    s.process.setProcessEnvironment(environment);
    s.process.setWorkingDirectory(s.work.path());
    // The console prints a line per record; a file takes it without ever pushing back.
    s.process.setStandardOutputFile(s.work.filePath(u"console.txt"_s));
    s.process.setStandardErrorFile(s.work.filePath(u"errors.txt"_s));
    s.process.setStandardInputFile(QProcess::nullDevice());
    s.process.start(program, {u"--console"_s});
    if (!s.process.waitForStarted(kStartMs))
        return false;
    const QDeadlineTimer deadline(kStartMs);
    while (!deadline.hasExpired()) {
        QFile out(s.work.filePath(u"console.txt"_s));
        if (out.open(QIODevice::ReadOnly) && out.readAll().contains("Orvane Monitoreando"))
            break;
        QThread::msleep(20);
    }
    s.device.bind(QHostAddress(s.origin), 0);
    s.device.connectToHost(QHostAddress::LocalHost, s.port);
    return s.device.waitForConnected(kStartMs);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = std::size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

struct Result {
    int stations = 0;
    quint64 sent = 0;
    quint64 rows = 0;
    quint64 distinct = 0;
    quint64 missing = 0;
    double sendSeconds = 0;
    double storedPerSecond = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    quint64 atClose = 0; // rows only the close made visible; expected 0
    bool cleanExit = true;
};

// The counts per station seen from a connection of the bench's own, committed after every round
// so that each round sees what the stations have committed since.
class Poller {
public:
    Poller(const QString& eddb, std::vector<std::unique_ptr<Station>>& stations)
        : m_eddb(eddb)
        , m_stations(stations) {}

    void run() {
        // One connection of its own, on this thread only.
        storage::StatementExecutor reader;
        reader.setDatabaseName(m_eddb);
        std::vector<qsizetype> seen(m_stations.size(), 0);
        while (!m_stop) {
            for (std::size_t i = 0; i < m_stations.size(); ++i) {
                Station& s = *m_stations[i];
                if (!reader.consultar(u"select count(*) from paquetes where origen = ?"_s, {s.origin}))
                    continue;
                const qsizetype count = reader.ultimo_resultado().toLongLong();
                const auto now = Clock::now();
                {
                    std::lock_guard lock(m_mutex);
                    for (qsizetype k = seen[i]; k < count && k < qsizetype(s.visibleAt.size()); ++k)
                        s.visibleAt[k] = now;
                }
                seen[i] = count;
                m_seen[i] = count;
            }
            reader.commit();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        reader.release();
    }

    qsizetype seen(std::size_t station) const { return m_seen[station]; }
    void stop() { m_stop = true; }
    std::mutex& mutex() { return m_mutex; }

private:
    QString m_eddb;
    std::vector<std::unique_ptr<Station>>& m_stations;
    std::mutex m_mutex;
    std::array<std::atomic<qsizetype>, 64> m_seen{};
    std::atomic<bool> m_stop = false;
};

Result run(PrivateFirebirdServer& server, int n, int seconds, int rate, const QString& program) {
    Result result;
    result.stations = n;
    const QString eddb = server.connectionString(u"hub%1.fdb"_s.arg(n));
    storage::createDatabase(eddb);
    {
        // The poller counts per station; an index keeps that from scanning the whole table.
        storage::StatementExecutor admin;
        admin.setDatabaseName(eddb);
        if (!admin.consultar(u"create index paquetes_origen on paquetes (origen)"_s))
            std::fprintf(stderr, "index: %s\n", qUtf8Printable(admin.ultimo_error()));
        admin.release();
    }

    std::vector<std::unique_ptr<Station>> stations;
    const std::size_t capacity = std::size_t(seconds) * std::size_t(rate) + 1;
    for (int i = 0; i < n; ++i) {
        auto& s = *stations.emplace_back(std::make_unique<Station>());
        s.generator = std::make_unique<tools::ReadingGenerator>(20241210 + n, i + 1);
        s.sentAt.reserve(capacity);
        s.visibleAt.assign(capacity, Clock::time_point{});
        if (!startStation(s, i, eddb, program)) {
            std::fprintf(stderr, "station %d did not start: %s\n", i,
                         qUtf8Printable(s.process.errorString()));
            std::exit(1);
        }
    }

    Poller poller(eddb, stations);
    std::thread polling([&poller] { poller.run(); });

    // Each device sends its share of lines on a steady schedule; a 5 ms timer catches up to it.
    const auto start = Clock::now();
    const quint64 perStation = quint64(seconds) * quint64(rate);
    QTimer pace;
    pace.setInterval(5);
    QObject::connect(&pace, &QTimer::timeout, &pace, [&] {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const auto due = std::min(perStation, quint64(elapsed * rate) + 1);
        for (auto& s : stations) {
            while (s->sentAt.size() < due) {
                const QByteArray line = s->generator->next();
                s->guides << guideOf(line);
                s->device.write(line);
                s->sentAt.push_back(Clock::now());
            }
        }
        if (stations.front()->sentAt.size() >= perStation)
            QCoreApplication::exit(0);
    });
    pace.start();
    QCoreApplication::exec();
    pace.stop();
    for (auto& s : stations) {
        while (s->device.bytesToWrite() > 0)
            s->device.waitForBytesWritten(1000);
    }
    const auto sendEnd = Clock::now();
    // The last rows of each station become visible with the tick's half-second commit once the
    // devices fall silent: wait until nothing more shows up.
    const auto visible = [&] {
        qsizetype all = 0;
        for (std::size_t i = 0; i < stations.size(); ++i)
            all += poller.seen(i);
        return all;
    };
    const QDeadlineTimer catchUp(kCatchUpMs);
    for (qsizetype last = -1; visible() != last && !catchUp.hasExpired();) {
        last = visible();
        QThread::msleep(1000);
    }
    poller.stop();
    polling.join();

    // Rows per second: what became visible while the devices sent, over the sending time.
    result.sendSeconds = std::chrono::duration<double>(sendEnd - start).count();
    std::vector<double> latencies;
    quint64 inWindow = 0;
    for (auto& s : stations) {
        result.sent += s->sentAt.size();
        for (std::size_t k = 0; k < s->sentAt.size(); ++k) {
            if (s->visibleAt[k] == Clock::time_point{}) {
                ++result.atClose;
                continue;
            }
            latencies.push_back(
                std::chrono::duration<double, std::milli>(s->visibleAt[k] - s->sentAt[k]).count());
            inWindow += s->visibleAt[k] <= sendEnd ? 1 : 0;
        }
    }
    result.storedPerSecond = double(inWindow) / result.sendSeconds;
    result.p50 = percentile(latencies, 0.50);
    result.p99 = percentile(latencies, 0.99);
    result.max = percentile(latencies, 1.0);

    for (auto& s : stations) {
        s->device.disconnectFromHost();
        s->process.terminate();
    }
    for (auto& s : stations) {
        if (!s->process.waitForFinished(kCatchUpMs) || s->process.exitCode() != 0)
            result.cleanExit = false;
    }

    for (auto& s : stations) {
        QFile errors(s->work.filePath(u"errors.txt"_s));
        if (errors.open(QIODevice::ReadOnly) && errors.size() > 0)
            std::fprintf(stderr, "station errors: %s\n", errors.readAll().left(2000).constData());
    }
    // Every line sent is exactly one row: the totals, then every guide looked up by batches.
    storage::StatementExecutor reader;
    reader.setDatabaseName(eddb);
    if (!reader.consultar(u"select count(*) from paquetes"_s))
        std::fprintf(stderr, "count: %s %s\n", qUtf8Printable(reader.ultimo_error()),
                     qUtf8Printable(reader.connectError()));
    result.rows = reader.ultimo_resultado().toULongLong();
    reader.consultar(u"select count(distinct paquete) from paquetes"_s);
    result.distinct = reader.ultimo_resultado().toULongLong();
    for (auto& s : stations) {
        for (qsizetype from = 0; from < s->guides.size(); from += 500) {
            const QStringList batch = s->guides.mid(from, 500);
            storage::StatementValues values;
            for (const QString& guide : batch)
                values.push_back(guide);
            QString markers = u"?"_s.repeated(batch.size());
            for (qsizetype i = markers.size() - 1; i > 0; --i)
                markers.insert(i, u',');
            reader.consultar(u"select count(*) from paquetes where origen = ? and paquete in ("_s + markers +
                                 u")"_s,
                             storage::StatementValues{s->origin} + values);
            result.missing += quint64(batch.size()) - reader.ultimo_resultado().toULongLong();
        }
    }
    reader.release();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {u"stations"_s, u"Station counts to run, comma-separated (default 1,2,4,8)."_s, u"list"_s,
         u"1,2,4,8"_s},
        {u"seconds"_s, u"Sending time per run (default 20)."_s, u"s"_s, u"20"_s},
        {u"rate"_s, u"Lines per second per station (default 100)."_s, u"n"_s, u"100"_s},
    });
    parser.process(app);
    const int seconds = parser.value(u"seconds"_s).toInt();
    const int rate = parser.value(u"rate"_s).toInt();
    const QString program = QString::fromUtf8(ORVANEDB_PATH);

    PrivateFirebirdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "Firebird server: %s\n", qUtf8Printable(server.error()));
        return 1;
    }
    std::printf("%d s per run, %d lines/s per station, one Firebird server on 127.0.0.1:%u\n\n", seconds,
                rate, unsigned(server.port()));
    std::printf("| stations | offered lines/s | stored rows/s | rows | lost | duplicated | p50 ms | p99 ms | "
                "max ms | committed at the close |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    bool ok = true;
    for (const QString& text : parser.value(u"stations"_s).split(u',')) {
        const int n = text.toInt();
        if (n < 1 || n > 64)
            continue;
        const Result r = run(server, n, seconds, rate, program);
        std::printf("| %d | %d | %.0f | %llu | %llu | %llu | %.0f | %.0f | %.0f | %llu |\n", n, n * rate,
                    r.storedPerSecond, static_cast<unsigned long long>(r.rows),
                    static_cast<unsigned long long>(r.missing),
                    static_cast<unsigned long long>(r.rows - r.distinct), r.p50, r.p99, r.max,
                    static_cast<unsigned long long>(r.atClose));
        std::fflush(stdout);
        if (r.rows != r.sent || r.distinct != r.sent || r.missing != 0 || !r.cleanExit) {
            std::fprintf(stderr,
                         "%d stations: sent %llu, rows %llu, distinct %llu, missing %llu, clean exit %d\n", n,
                         static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.rows),
                         static_cast<unsigned long long>(r.distinct),
                         static_cast<unsigned long long>(r.missing), int(r.cleanExit));
            ok = false;
        }
    }
    storage::shutdownFirebirdClient();
    return ok ? 0 : 1;
}
