// Many stations, one server, as in a parcel hub: one private Firebird server, N headless stations
// (each its own process, working folder, settings file and port), each fed one simulated device
// at a steady rate. Reports the rows per second the server took from all of them, checks that
// every line sent became exactly one row, and measures, per line, the time from its sending to
// its row being visible to another connection (committed).
//
// Then the fleet at saturation against a raw-client baseline. Each station's device keeps a standing
// backlog of lines the station has not committed yet, so the stations store as fast as they can; their
// rows per second come from their metrics endpoints (nobody reads the table meanwhile). The baseline:
// as many plain clients as stations, each on a connection of its own through the station's statement
// executor, inserting the same rows (reading identity included) into a fresh database of the same
// server, committing as often as the stations did (rows over distinct transactions in their table),
// as fast as they can for the same time. Both after the same warm-up.
//
//   bench_hub_load [--stations 1,2,4,8] [--seconds 20] [--rate 100] [--saturate 4]
//   bench_hub_load --stations 0 --saturate 4         the saturation run alone

#include "base/Error.h"
#include "bench/StationMetrics.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/FirebirdClient.h"
#include "storage/PaquetesInsert.h"
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
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStartMs = 30000;
constexpr int kCatchUpMs = 120000;
// Lines each station holds unstored at saturation: more than it stores between two looks at its
// metrics, few enough to be stored in seconds once the sending ends.
constexpr double kStandingBacklog = 4000;

QString guideOf(const QByteArray& line) {
    return QString::fromLatin1(line.split('!').value(4).split('|').value(0));
}

// One headless station with its device.
struct Station {
    QTemporaryDir work;
    QTemporaryDir config;
    QProcess process;
    quint16 port = 0;
    quint16 metrics = 0;
    QString origin; // the device's own loopback address: the rows' origen
    QTcpSocket device;
    std::unique_ptr<tools::ReadingGenerator> generator;
    std::vector<Clock::time_point> sentAt;
    std::vector<Clock::time_point> visibleAt; // filled by the poller
    QStringList guides;
};

bool startStation(Station& s, int index, const QString& eddb, const QString& program) {
    s.port = testsupport::freePort(QHostAddress::LocalHost);
    s.metrics = testsupport::freePort(QHostAddress::LocalHost);
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
    s.process.start(program, {u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(s.metrics)});
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

struct Result {
    int stations = 0;
    quint64 sent = 0;
    quint64 rows = 0;
    quint64 distinct = 0;
    quint64 missing = 0;
    double rowsPerCommit = 0; // rows over the transactions that stored them
    double sendSeconds = 0;
    double storedPerSecond = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    quint64 atClose = 0; // rows only the close made visible; expected 0
    bool cleanExit = true;

    bool everyLineOnce() const { return rows == sent && distinct == sent && missing == 0 && cleanExit; }
};

using Fleet = std::vector<std::unique_ptr<Station>>;

// A fresh database on the server with the station's table.
QString freshDatabase(PrivateFirebirdServer& server, const QString& name, bool originIndex) {
    const QString eddb = server.connectionString(name);
    storage::createDatabase(eddb);
    if (originIndex) {
        // The poller counts per station; an index keeps that from scanning the whole table.
        storage::StatementExecutor admin;
        admin.setDatabaseName(eddb);
        if (!admin.consultar(u"create index paquetes_origen on paquetes (origen)"_s))
            std::fprintf(stderr, "index: %s\n", qUtf8Printable(admin.ultimo_error()));
        admin.release();
    }
    return eddb;
}

Fleet startFleet(int n, const QString& eddb, const QString& program, std::size_t capacity) {
    Fleet stations;
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
    return stations;
}

// SIGTERM to every station (each stores what it received, then ends), then every line sent is
// looked for: the totals, every guide by batches, and the transactions that stored the rows.
void stopAndCount(Fleet& stations, const QString& eddb, Result& result) {
    for (auto& s : stations) {
        s->device.disconnectFromHost();
        s->process.terminate();
    }
    for (auto& s : stations) {
        if (!s->process.waitForFinished(kCatchUpMs) || s->process.exitCode() != 0)
            result.cleanExit = false;
        result.sent += quint64(s->guides.size());
    }
    for (auto& s : stations) {
        QFile errors(s->work.filePath(u"errors.txt"_s));
        if (!errors.open(QIODevice::ReadOnly))
            continue;
        // The metrics address the station tells at its start is no error.
        QStringList lines = QString::fromUtf8(errors.readAll()).split(u'\n', Qt::SkipEmptyParts);
        lines.removeIf([](const QString& line) { return line.startsWith(u"M\u00e9tricas en "_s); });
        if (!lines.isEmpty())
            std::fprintf(stderr, "station errors: %s\n", qUtf8Printable(lines.join(u'\n').left(2000)));
    }
    storage::StatementExecutor reader;
    reader.setDatabaseName(eddb);
    if (!reader.consultar(u"select count(*) from paquetes"_s))
        std::fprintf(stderr, "count: %s %s\n", qUtf8Printable(reader.ultimo_error()),
                     qUtf8Printable(reader.connectError()));
    result.rows = reader.ultimo_resultado().toULongLong();
    reader.consultar(u"select count(distinct paquete) from paquetes"_s);
    result.distinct = reader.ultimo_resultado().toULongLong();
    // Each row version carries the number of the transaction that wrote it.
    if (reader.consultar(u"select count(distinct rdb$record_version) from paquetes"_s))
        result.rowsPerCommit = double(result.rows) / std::max(1.0, reader.ultimo_resultado().toDouble());
    // Without an index on the guide each batch below would read the whole table again: minutes of
    // the server's time after a saturated run.
    if (reader.consultar(u"create index paquetes_guia_banco on paquetes (origen, paquete)"_s)) {
        try {
            reader.commit();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "index: %s\n", qUtf8Printable(base::messageOf(e)));
        }
    }
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
}

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
    const QString eddb = freshDatabase(server, u"hub%1.fdb"_s.arg(n), true);
    Fleet stations = startFleet(n, eddb, program, std::size_t(seconds) * std::size_t(rate) + 1);

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
    result.p50 = bench::percentile(latencies, 0.50);
    result.p99 = bench::percentile(latencies, 0.99);
    result.max = bench::percentile(latencies, 1.0);

    stopAndCount(stations, eddb, result);
    return result;
}

// The fleet kept busy: each device tops its station up to kStandingBacklog unstored lines. The rows
// per second are those committed over `seconds` after `warmUp`.
struct Saturation {
    Result fleet;
    double leastBacklog = 0; // the fewest unstored lines a station had during the measured time
    double peakQueue = 0;
};

Saturation saturate(PrivateFirebirdServer& server, int n, int seconds, int warmUp, const QString& program) {
    Saturation saturation;
    Result& result = saturation.fleet;
    result.stations = n;
    const QString eddb = freshDatabase(server, u"saturated%1.fdb"_s.arg(n), false);
    Fleet stations = startFleet(n, eddb, program, 0);

    struct Seen {
        std::atomic<double> stored = 0;
        std::atomic<double> queue = 0;
    };
    std::vector<Seen> seen(stations.size());
    std::atomic<bool> stopScraping = false;
    std::thread scraper([&] {
        while (!stopScraping) {
            for (std::size_t i = 0; i < stations.size(); ++i) {
                const bench::MetricsSample sample = bench::scrapeMetrics(stations[i]->metrics);
                if (sample.stored >= 0) {
                    seen[i].stored = sample.stored;
                    seen[i].queue = sample.queue;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto storedByAll = [&] {
        double all = 0;
        for (const Seen& station : seen)
            all += station.stored;
        return all;
    };

    const auto start = Clock::now();
    const auto from = start + std::chrono::seconds(warmUp);
    const auto until = from + std::chrono::seconds(seconds);
    double storedAtFrom = -1;
    double storedAtUntil = 0;
    saturation.leastBacklog = kStandingBacklog;
    QTimer pace;
    pace.setInterval(2);
    QObject::connect(&pace, &QTimer::timeout, &pace, [&] {
        const auto now = Clock::now();
        if (now >= from && storedAtFrom < 0)
            storedAtFrom = storedByAll();
        if (now >= until) {
            storedAtUntil = storedByAll();
            QCoreApplication::exit(0);
            return;
        }
        for (std::size_t i = 0; i < stations.size(); ++i) {
            Station& s = *stations[i];
            const double backlog = double(s.guides.size()) - seen[i].stored;
            if (storedAtFrom >= 0) {
                saturation.leastBacklog = std::min(saturation.leastBacklog, backlog);
                saturation.peakQueue = std::max(saturation.peakQueue, seen[i].queue.load());
            }
            QByteArray batch;
            for (double owed = kStandingBacklog - backlog; owed >= 1; --owed) {
                const QByteArray line = s.generator->next();
                s.guides << guideOf(line);
                batch += line;
            }
            if (!batch.isEmpty())
                s.device.write(batch);
        }
    });
    pace.start();
    QCoreApplication::exec();
    pace.stop();
    for (auto& s : stations) {
        while (s->device.bytesToWrite() > 0)
            s->device.waitForBytesWritten(1000);
    }
    result.sendSeconds = seconds;
    result.storedPerSecond = (storedAtUntil - storedAtFrom) / seconds;

    // The standing backlog is stored before the close, which would leave what takes it longer than
    // its own limit for a next start.
    const auto allStored = [&] {
        for (std::size_t i = 0; i < stations.size(); ++i) {
            if (seen[i].stored < double(stations[i]->guides.size()))
                return false;
        }
        return true;
    };
    const QDeadlineTimer catchUp(kCatchUpMs);
    while (!allStored() && !catchUp.hasExpired())
        QThread::msleep(20);
    stopScraping = true;
    scraper.join();
    stopAndCount(stations, eddb, result);
    return saturation;
}

// `clients` plain clients, each on its own connection, inserting the fleet's rows as fast as they can
// and committing every `rowsPerCommit` rows: the rows per second committed over `seconds` after
// `warmUp`.
double rawClients(PrivateFirebirdServer& server, int clients, int seconds, int warmUp, double rowsPerCommit) {
    const QString eddb = freshDatabase(server, u"raw%1.fdb"_s.arg(clients), false);
    std::atomic<quint64> stored = 0;
    std::atomic<bool> stop = false;
    std::atomic<bool> failed = false;
    std::latch connected(clients + 1);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            storage::StatementExecutor executor;
            executor.setDatabaseName(eddb);
            // The connection is made before the clock starts, as the stations' are.
            if (!executor.consultar(u"select count(*) from paquetes"_s)) {
                std::fprintf(stderr, "raw client: %s\n", qUtf8Printable(executor.ultimo_error()));
                failed = true;
            }
            executor.commit();
            connected.count_down();
            connected.wait();
            tools::ReadingGenerator generator(20241210, c + 1);
            const QString origin = u"127.0.0.%1"_s.arg(c + 2);
            quint64 sent = 0;
            quint64 uncommitted = 0;
            double owed = 0; // rows since the last commit, against rowsPerCommit
            try {
                while (!stop && !failed) {
                    const storage::PendingRow row{
                        u"raw-%1-%2"_s.arg(c).arg(sent++), QDateTime::currentDateTime(),
                        storage::StatementValues{u"P01"_s, origin, guideOf(generator.next()), 12.5, 30.0,
                                                 45.5, 4.5, 3.4125, u"Con dim-Con peso-Con gu\u00eda"_s}};
                    const storage::PaquetesInsert insert = storage::PaquetesInsert::of(row, false, true);
                    if (!executor.consultar(insert.sql, insert.values)) {
                        std::fprintf(stderr, "raw client: %s\n", qUtf8Printable(executor.ultimo_error()));
                        failed = true;
                        break;
                    }
                    ++uncommitted;
                    if (++owed >= rowsPerCommit) {
                        owed -= rowsPerCommit;
                        executor.commit();
                        stored += std::exchange(uncommitted, 0);
                    }
                }
                executor.commit();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "raw client: %s\n", e.what());
                failed = true;
            }
            executor.release();
        });
    }
    connected.arrive_and_wait();
    std::this_thread::sleep_for(std::chrono::seconds(warmUp));
    const quint64 atFrom = stored;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const quint64 atUntil = stored;
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    return failed ? 0 : double(atUntil - atFrom) / seconds;
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
        {u"saturate"_s,
         u"Stations kept busy with a standing backlog, against as many raw clients, for the same time "
         u"(0: no such run; default 4)."_s,
         u"n"_s, u"4"_s},
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
    std::vector<int> counts;
    for (const QString& text : parser.value(u"stations"_s).split(u','))
        if (const int n = text.toInt(); n >= 1 && n <= 64)
            counts.push_back(n);
    std::printf("%d s per run, one Firebird server on 127.0.0.1:%u\n", seconds, unsigned(server.port()));
    if (!counts.empty()) {
        std::printf("\n%d lines/s per station\n\n", rate);
        std::printf(
            "| stations | offered lines/s | stored rows/s | rows | lost | duplicated | p50 ms | p99 ms | "
            "max ms | committed at the close |\n");
        std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    }
    bool ok = true;
    for (const int n : counts) {
        const Result r = run(server, n, seconds, rate, program);
        std::printf("| %d | %d | %.0f | %llu | %llu | %llu | %.0f | %.0f | %.0f | %llu |\n", n, n * rate,
                    r.storedPerSecond, static_cast<unsigned long long>(r.rows),
                    static_cast<unsigned long long>(r.missing),
                    static_cast<unsigned long long>(r.rows - r.distinct), r.p50, r.p99, r.max,
                    static_cast<unsigned long long>(r.atClose));
        std::fflush(stdout);
        if (!r.everyLineOnce()) {
            std::fprintf(stderr,
                         "%d stations: sent %llu, rows %llu, distinct %llu, missing %llu, clean exit %d\n", n,
                         static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.rows),
                         static_cast<unsigned long long>(r.distinct),
                         static_cast<unsigned long long>(r.missing), int(r.cleanExit));
            ok = false;
        }
    }
    if (const int n = parser.value(u"saturate"_s).toInt(); n > 0 && n <= 64 && seconds > 0) {
        const int warmUp = std::clamp(seconds / 5, 1, 5);
        const Saturation saturation = saturate(server, n, seconds, warmUp, program);
        const Result& fleet = saturation.fleet;
        const double raw = rawClients(server, n, seconds, warmUp, std::max(1.0, fleet.rowsPerCommit));
        std::printf(
            "\n%d stations kept busy (each always had at least %.0f lines unstored, queue peak %.0f), "
            "committing every %.1f rows; as many raw clients committing as often\n",
            n, saturation.leastBacklog, saturation.peakQueue, fleet.rowsPerCommit);
        std::printf(
            "saturation: stations %.0f rows/s, raw clients %.0f rows/s, ratio %.2f (target >= 0.80)\n",
            fleet.storedPerSecond, raw, raw > 0 ? fleet.storedPerSecond / raw : 0.0);
        std::printf("saturation rows: %llu, lost %llu, duplicated %llu\n",
                    static_cast<unsigned long long>(fleet.rows),
                    static_cast<unsigned long long>(fleet.missing),
                    static_cast<unsigned long long>(fleet.rows - fleet.distinct));
        if (!fleet.everyLineOnce() || raw <= 0) {
            std::fprintf(
                stderr, "saturation: sent %llu, rows %llu, distinct %llu, missing %llu, clean exit %d\n",
                static_cast<unsigned long long>(fleet.sent), static_cast<unsigned long long>(fleet.rows),
                static_cast<unsigned long long>(fleet.distinct),
                static_cast<unsigned long long>(fleet.missing), int(fleet.cleanExit));
            ok = false;
        }
    }
    storage::shutdownFirebirdClient();
    return ok ? 0 : 1;
}
