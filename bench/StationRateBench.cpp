// The whole station at a sustained rate: the headless program (intake journal, queue, tick, row
// outbox, writer, its embedded database) fed by one simulated device at 200, 500, 1000, 2000 lines a
// second and upwards, a fresh station for each rate. Reports the rows stored per second, the queue's
// peak and, per line, the time from its sending to its row being committed; then counts the rows in
// the database (every line once) and says where the station stops keeping up. Before that, the CPU an
// idle station uses.
//
//   bench_station_rate [--rates 200,500,1000,2000,3000,4000,6000] [--seconds 20] [--idle 30]
//
// Commits are seen through the metrics endpoint: `orvanedb_rows_stored_total` counts committed rows,
// and with one device rows commit in the order sent, so line k is committed once the count reaches k.

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

// One metrics sample, read over a blocking socket: no event loop on the scraping thread.
struct Sample {
    Clock::time_point at;
    double stored = -1;
    double queue = -1;
};

Sample scrape(quint16 port) {
    Sample sample;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return sample;
    socket.write("GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(2000))
        response += socket.readAll();
    response += socket.readAll();
    sample.at = Clock::now();
    for (const QByteArray& line : response.split('\n')) {
        if (line.startsWith("orvanedb_rows_stored_total "))
            sample.stored = line.mid(27).toDouble();
        else if (line.startsWith("orvanedb_queue_length "))
            sample.queue = line.mid(22).toDouble();
    }
    return sample;
}

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

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = std::size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

struct Result {
    int rate = 0;
    quint64 sent = 0;
    double sendSeconds = 0;
    double storedPerSecond = 0;
    double queuePeak = 0;
    double p50 = 0, p99 = 0, max = 0;
    quint64 rows = 0;
    quint64 distinct = 0;
    bool cleanExit = false;
    bool keptUp() const { return storedPerSecond >= 0.95 * rate && rows == sent && distinct == sent; }
};

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

    std::vector<Sample> samples;
    std::mutex samplesMutex;
    std::atomic<bool> stopScraping = false;
    std::thread scraper([&] {
        while (!stopScraping) {
            const Sample sample = scrape(station.metrics());
            if (sample.stored >= 0) {
                const std::lock_guard lock(samplesMutex);
                samples.push_back(sample);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    // A steady schedule: every 2 ms the device catches up with the lines due by then.
    tools::ReadingGenerator generator(20261210, 1);
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
    result.sent = sentAt.size();
    result.sendSeconds = std::chrono::duration<double>(sendEnd - start).count();

    const QDeadlineTimer catchUp(kCatchUpMs);
    const auto storedNow = [&] {
        const std::lock_guard lock(samplesMutex);
        return samples.empty() ? 0.0 : samples.back().stored;
    };
    while (storedNow() < double(total) && !catchUp.hasExpired())
        QThread::msleep(20);
    stopScraping = true;
    scraper.join();

    // Line k (from 1) is committed at the first sample that counts k rows.
    std::vector<double> latencies;
    quint64 inWindow = 0;
    std::size_t at = 0;
    for (quint64 k = 1; k <= total; ++k) {
        while (at < samples.size() && samples[at].stored < double(k))
            ++at;
        if (at == samples.size())
            break;
        latencies.push_back(
            std::chrono::duration<double, std::milli>(samples[at].at - sentAt[k - 1]).count());
        inWindow += samples[at].at <= sendEnd ? 1 : 0;
    }
    for (const Sample& sample : samples)
        result.queuePeak = std::max(result.queuePeak, sample.queue);
    result.storedPerSecond = double(inWindow) / result.sendSeconds;
    result.p50 = percentile(latencies, 0.50);
    result.p99 = percentile(latencies, 0.99);
    result.max = percentile(latencies, 1.0);

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
        {u"rates"_s, u"Lines per second to offer, comma-separated."_s, u"list"_s,
         u"200,500,1000,2000,3000,4000,6000"_s},
        {u"seconds"_s, u"Sending time per rate (default 20)."_s, u"s"_s, u"20"_s},
        {u"idle"_s, u"Seconds an idle station is watched first (0: not at all; default 30)."_s, u"s"_s,
         u"30"_s},
    });
    parser.process(app);
    const int seconds = parser.value(u"seconds"_s).toInt();
    const int idleSeconds = parser.value(u"idle"_s).toInt();
    const QString program = QString::fromUtf8(ORVANEDB_PATH);

    if (idleSeconds > 0) {
        std::printf("idle: %.3f %% of a core over %d s (target <= 0.3 %%)\n\n",
                    idleShare(program, idleSeconds), idleSeconds);
        std::fflush(stdout);
    }
    std::printf("%d s per rate, one device, embedded database\n\n", seconds);
    std::printf("| offered lines/s | stored rows/s | queue peak | p50 ms | p99 ms | max ms | rows | lost | "
                "duplicated |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    bool ok = true;
    int lastKept = 0;
    int firstBehind = 0;
    for (const QString& text : parser.value(u"rates"_s).split(u',')) {
        const int rate = text.toInt();
        if (rate <= 0)
            continue;
        const Result r = run(program, rate, seconds);
        const quint64 lost = r.sent > r.distinct ? r.sent - r.distinct : 0;
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f | %llu | %llu | %llu |\n", rate,
                    r.storedPerSecond, r.queuePeak, r.p50, r.p99, r.max,
                    static_cast<unsigned long long>(r.rows), static_cast<unsigned long long>(lost),
                    static_cast<unsigned long long>(r.rows - r.distinct));
        std::fflush(stdout);
        if (r.rows != r.sent || r.distinct != r.sent || !r.cleanExit)
            ok = false;
        if (r.keptUp() && firstBehind == 0)
            lastKept = rate;
        else if (firstBehind == 0)
            firstBehind = rate;
    }
    if (firstBehind == 0)
        std::printf("\nkept up with every rate offered, up to %d lines/s (target >= 2000)\n", lastKept);
    else
        std::printf("\nkept up to %d lines/s; at %d lines/s it stored less than 95 %% of what was offered "
                    "(target >= 2000)\n",
                    lastKept, firstBehind);
    storage::shutdownFirebirdClient();
    return ok ? 0 : 1;
}
