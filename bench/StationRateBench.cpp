// The whole station at a sustained rate: the headless program (intake journal, queue, tick, row
// outbox, writer, its embedded database) fed by one simulated device at 200, 500, 1000, 2000 lines a
// second and upwards, a fresh station for each rate, until it no longer keeps up. Reports the rows
// stored per second, the queue's peak and, per line, the time from its sending to its row being
// committed; then counts the rows in the database (every line once) and says where the station stops
// keeping up: the first rate it stores less than 95 % of, or whose queue keeps growing. Before that,
// the CPU an idle station uses.
//
//   bench_station_rate [--rates 200,500,...] [--all-rates] [--seconds 20] [--idle 30]
//   bench_station_rate --rates 0                     the idle station alone
//
// Commits are seen through the metrics endpoint: `orvanedb_rows_stored_total` counts committed rows,
// and with one device rows commit in the order sent, so line k is committed once the count reaches k.

#include "bench/StationMetrics.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "storage/FirebirdClient.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FreePort.h"
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
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStartMs = 30000;
constexpr int kCatchUpMs = 120000;

// The headless station in a folder of its own, on its embedded database.
class Station {
public:
    bool start(const QString& program) {
        m_port = testsupport::freePort(QHostAddress::LocalHost);
        m_metrics = testsupport::freePort(QHostAddress::LocalHost);
        config::SettingsStore store(m_config.filePath(u"Tarvenix/OrvaneDB.reg"_s));
        store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s, QString::number(m_port));
        store.save();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, m_config.path());
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_work.path());
        // The console prints a line per record; a file takes it without ever pushing back.
        m_process.setStandardOutputFile(m_work.filePath(u"salida.txt"_s));
        m_process.setStandardErrorFile(m_work.filePath(u"errores.txt"_s));
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.start(program,
                        {u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(m_metrics)});
        if (!m_process.waitForStarted(kStartMs))
            return false;
        const QDeadlineTimer deadline(kStartMs);
        while (!deadline.hasExpired()) {
            QFile out(m_work.filePath(u"salida.txt"_s));
            if (out.open(QIODevice::ReadOnly) && out.readAll().contains("Orvane Monitoreando"))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    // SIGTERM, as a service manager stops it: every line received is still stored.
    bool stop() {
        m_process.terminate();
        return m_process.waitForFinished(kCatchUpMs) && m_process.exitCode() == 0;
    }

    double cpuSeconds() const {
        QFile stat(u"/proc/%1/stat"_s.arg(m_process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        // The fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }

    QString errors() const {
        QFile file(m_work.filePath(u"errores.txt"_s));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString database() const { return m_work.filePath(u"ROVEZOD30.FDB"_s); }
    quint16 port() const { return m_port; }
    quint16 metrics() const { return m_metrics; }

private:
    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_metrics = 0;
};

struct Result {
    int rate = 0;
    quint64 sent = 0;
    double sendSeconds = 0;
    double storedPerSecond = 0; // over the second half of the sending, when the start's lag is behind
    double queuePeak = 0;
    double queueMid = 0, queueEnd = 0; // mean queue around the sending's middle and in its last second
    double p50 = 0, p99 = 0, max = 0;
    quint64 rows = 0;
    quint64 distinct = 0;
    bool cleanExit = false;
    // A queue that kept a second's lines at the end, and more than at the middle, only grows on.
    bool queueGrowing() const {
        return queueEnd >= std::max(100.0, rate / 4.0) && queueEnd > 1.5 * queueMid + 10;
    }
    bool keptUp() const { return storedPerSecond >= 0.95 * rate && !queueGrowing(); }
};

// The mean queue of the samples taken in [from, to).
double meanQueue(const std::vector<bench::MetricsSample>& samples, Clock::time_point from,
                 Clock::time_point to) {
    double sum = 0;
    int count = 0;
    for (const bench::MetricsSample& sample : samples) {
        if (sample.at >= from && sample.at < to && sample.queue >= 0) {
            sum += sample.queue;
            ++count;
        }
    }
    return count > 0 ? sum / count : 0;
}

// The last sample taken by `at`.
const bench::MetricsSample* sampleBy(const std::vector<bench::MetricsSample>& samples, Clock::time_point at) {
    const auto after = std::upper_bound(
        samples.begin(), samples.end(), at,
        [](Clock::time_point t, const bench::MetricsSample& sample) { return t < sample.at; });
    return after == samples.begin() ? nullptr : &*std::prev(after);
}

Result run(const QString& program, int rate, int seconds) {
    Result result;
    result.rate = rate;
    Station station;
    if (!station.start(program)) {
        std::fprintf(stderr, "the station did not start: %s\n", qUtf8Printable(station.errors()));
        std::exit(1);
    }
    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, station.port());
    if (!device.waitForConnected(kStartMs)) {
        std::fprintf(stderr, "no connection to the station\n");
        std::exit(1);
    }

    std::vector<bench::MetricsSample> samples;
    std::mutex samplesMutex;
    std::atomic<bool> stopScraping = false;
    std::thread scraper([&] {
        while (!stopScraping) {
            const bench::MetricsSample sample = bench::scrapeMetrics(station.metrics());
            if (sample.stored >= 0) {
                const std::lock_guard lock(samplesMutex);
                samples.push_back(sample);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    // The first row makes the station's database; that is its start, not its rate. One line is
    // stored before the schedule begins.
    tools::ReadingGenerator generator(20261210, 1);
    const auto storedNow = [&] {
        const std::lock_guard lock(samplesMutex);
        return samples.empty() ? 0.0 : samples.back().stored;
    };
    device.write(generator.next());
    device.waitForBytesWritten(kStartMs);
    for (const QDeadlineTimer first(kStartMs); storedNow() < 1 && !first.hasExpired();)
        QThread::msleep(10);
    if (storedNow() < 1) {
        std::fprintf(stderr, "the first row was not stored: %s\n", qUtf8Printable(station.errors()));
        std::exit(1);
    }

    // A steady schedule: every 2 ms the device catches up with the lines due by then.
    const quint64 total = quint64(rate) * quint64(seconds);
    std::vector<Clock::time_point> sentAt;
    sentAt.reserve(total);
    const auto start = Clock::now();
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    pace.setInterval(2);
    QObject::connect(&pace, &QTimer::timeout, &pace, [&] {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const quint64 due = std::min(total, quint64(elapsed * rate) + 1);
        QByteArray batch;
        while (sentAt.size() < due) {
            batch += generator.next();
            sentAt.push_back(Clock::now());
        }
        if (!batch.isEmpty())
            device.write(batch);
        if (sentAt.size() >= total)
            QCoreApplication::exit(0);
    });
    pace.start();
    QCoreApplication::exec();
    pace.stop();
    while (device.bytesToWrite() > 0)
        device.waitForBytesWritten(1000);
    const auto sendEnd = Clock::now();
    result.sent = sentAt.size() + 1;
    result.sendSeconds = std::chrono::duration<double>(sendEnd - start).count();

    const QDeadlineTimer catchUp(kCatchUpMs);
    while (storedNow() < double(total + 1) && !catchUp.hasExpired())
        QThread::msleep(20);
    stopScraping = true;
    scraper.join();

    // Line k of the schedule (from 1) is committed at the first sample that counts k rows after the
    // first one.
    std::vector<double> latencies;
    std::size_t at = 0;
    for (quint64 k = 1; k <= total; ++k) {
        while (at < samples.size() && samples[at].stored < double(k + 1))
            ++at;
        if (at == samples.size())
            break;
        latencies.push_back(
            std::chrono::duration<double, std::milli>(samples[at].at - sentAt[k - 1]).count());
    }
    for (const bench::MetricsSample& sample : samples)
        result.queuePeak = std::max(result.queuePeak, sample.queue);
    // The rate over the sending's second half: the first rows' wait for a commit, which a short run
    // would count as falling behind, lies before it.
    const auto mid = start + (sendEnd - start) / 2;
    const bench::MetricsSample* first = sampleBy(samples, mid);
    const bench::MetricsSample* last = sampleBy(samples, sendEnd);
    if (first && last && last->at > first->at)
        result.storedPerSecond =
            (last->stored - first->stored) / std::chrono::duration<double>(last->at - first->at).count();
    result.queueMid =
        meanQueue(samples, mid - std::chrono::milliseconds(500), mid + std::chrono::milliseconds(500));
    result.queueEnd = meanQueue(samples, sendEnd - std::chrono::seconds(1), sendEnd);
    result.p50 = bench::percentile(latencies, 0.50);
    result.p99 = bench::percentile(latencies, 0.99);
    result.max = bench::percentile(latencies, 1.0);

    device.disconnectFromHost();
    result.cleanExit = station.stop();
    storage::StatementExecutor reader;
    reader.setDatabaseName(station.database());
    if (reader.consultar(u"select count(*) from paquetes"_s))
        result.rows = reader.ultimo_resultado().toULongLong();
    if (reader.consultar(u"select count(distinct paquete) from paquetes"_s))
        result.distinct = reader.ultimo_resultado().toULongLong();
    reader.release();
    return result;
}

// An idle station: started, listening, nobody sending.
double idleShare(const QString& program, int seconds) {
    Station station;
    if (!station.start(program))
        return -1;
    QThread::sleep(1); // the start's own work is not idling
    const double before = station.cpuSeconds();
    QThread::sleep(seconds);
    const double used = station.cpuSeconds() - before;
    station.stop();
    return 100.0 * used / seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {u"rates"_s,
         u"Lines per second to offer, comma-separated, in rising order; the runs end after the first rate "
         u"the station does not keep up with (0: none, the idle station only)."_s,
         u"list"_s, u"200,500,1000,2000,3000,4000,6000,8000,12000,16000"_s},
        {u"all-rates"_s, u"Run every rate given, also after the station has fallen behind."_s},
        {u"seconds"_s, u"Sending time per rate (default 20)."_s, u"s"_s, u"20"_s},
        {u"idle"_s, u"Seconds an idle station is watched first (0: not at all; default 30)."_s, u"s"_s,
         u"30"_s},
    });
    parser.process(app);
    const int seconds = parser.value(u"seconds"_s).toInt();
    const int idleSeconds = parser.value(u"idle"_s).toInt();
    const QString program = QString::fromUtf8(ORVANEDB_PATH);
    std::vector<int> rates;
    for (const QString& text : parser.value(u"rates"_s).split(u','))
        if (const int rate = text.toInt(); rate > 0)
            rates.push_back(rate);

    bool ok = true;
    if (idleSeconds > 0) {
        const double share = idleShare(program, idleSeconds);
        if (share < 0) {
            std::fprintf(stderr, "the idle station did not start\n");
            ok = false;
        } else {
            std::printf("idle: %.3f %% of a core over %d s (target <= 0.3 %%)\n\n", share, idleSeconds);
        }
        std::fflush(stdout);
    }
    if (rates.empty() || seconds <= 0) {
        storage::shutdownFirebirdClient();
        return ok ? 0 : 1;
    }
    std::printf("%d s per rate, one device, embedded database; stored rows/s over the second half of the "
                "sending\n\n",
                seconds);
    std::printf("| offered lines/s | stored rows/s | queue peak | p50 ms | p99 ms | max ms | rows | lost | "
                "duplicated |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    int lastKept = 0;
    const Result* behind = nullptr;
    std::vector<Result> results;
    results.reserve(rates.size());
    for (const int rate : rates) {
        const Result& r = results.emplace_back(run(program, rate, seconds));
        const quint64 lost = r.sent > r.distinct ? r.sent - r.distinct : 0;
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f | %llu | %llu | %llu |\n", rate,
                    r.storedPerSecond, r.queuePeak, r.p50, r.p99, r.max,
                    static_cast<unsigned long long>(r.rows), static_cast<unsigned long long>(lost),
                    static_cast<unsigned long long>(r.rows - r.distinct));
        std::fflush(stdout);
        if (r.rows != r.sent || r.distinct != r.sent || !r.cleanExit) {
            std::fprintf(stderr, "%d lines/s: sent %llu, rows %llu, distinct %llu, clean exit %d\n", rate,
                         static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.rows),
                         static_cast<unsigned long long>(r.distinct), int(r.cleanExit));
            ok = false;
        }
        if (!behind && r.keptUp())
            lastKept = rate;
        else if (!behind)
            behind = &r;
        if (behind && !parser.isSet(u"all-rates"_s))
            break;
    }
    if (!behind)
        std::printf("\nkept up with every rate offered, up to %d lines/s (target >= 2000)\n", lastKept);
    else if (behind->queueGrowing())
        std::printf("\nkept up to %d lines/s; at %d lines/s the queue kept growing (%.0f lines around the "
                    "middle, %.0f in the last second; stored %.0f rows/s) (target >= 2000)\n",
                    lastKept, behind->rate, behind->queueMid, behind->queueEnd, behind->storedPerSecond);
    else
        std::printf(
            "\nkept up to %d lines/s; at %d lines/s it stored %.0f rows/s, less than 95 %% of what was "
            "offered (target >= 2000)\n",
            lastKept, behind->rate, behind->storedPerSecond);
    storage::shutdownFirebirdClient();
    return ok ? 0 : 1;
}
