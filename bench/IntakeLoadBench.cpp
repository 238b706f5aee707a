// Load on the network intake: many devices sending as fast as they can into one station intake,
// the queue worked off on the consumer's side as fast as possible. Checks that every line arrives,
// unchanged and in order per device, and reports lines per second into the queue and peak memory.
// Runs the load without the intake journal and with it (a file in a temporary folder, or in
// --journal-dir), alternating for --rounds rounds, and prints the median rates and their ratio.
// With the journal the consumer marks every line done and a group commit writes the marks and
// syncs the file every 100 ms on a thread of its own, as the station does.
// With --lines 1 --connect-interval 0 and many devices it is the burst of devices that all connect
// at the same instant, each with one line: every one of them must arrive.

#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "station/LineSplitter.h"
#include "station/NetworkIntake.h"
#include "station/OriginTag.h"
#include "tools/DeviceFleet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

long peakRssKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Settings {
    int devices = 0;
    int linesPerDevice = 0;
    qsizetype highWater = 0;
    qsizetype highWaterBytes = 0;
    qsizetype extraBytes = 0;
    unsigned long tickUs = 0;
    int connectIntervalMs = 0;
    int timeoutSeconds = 0;
    quint64 total() const { return quint64(devices) * quint64(linesPerDevice); }
};

struct Result {
    bool complete = false;
    double intoQueue = 0; // lines per second
    double workedOff = 0;
};

// The group commit's part in the journal: every 100 ms, the marks collected so far are written
// and the file synced, and lines a full disk held back are retried.
class GroupCommit final {
public:
    GroupCommit(station::IntakeJournal& journal, station::IntakeQueue& queue)
        : m_thread([this, &journal, &queue] {
            while (!m_stop.load()) {
                QThread::msleep(100);
                journal.writeDoneMarks(journal.takeDoneMarks());
                queue.retryJournal();
                ++m_rounds;
            }
        }) {}
    ~GroupCommit() {
        m_stop = true;
        m_thread.join();
    }
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    int rounds() const { return m_rounds.load(); }

private:
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_rounds = 0;
    std::thread m_thread;
};

Result runOnce(const Settings& s, const QString& journalPath) {
    constexpr quint32 kSeed = 20240501;
    const quint64 total = s.total();

    std::unique_ptr<station::IntakeJournal> journal;
    station::IntakeQueue queue(s.highWater, s.highWaterBytes);
    if (!journalPath.isEmpty()) {
        QFile::remove(journalPath);
        journal = std::make_unique<station::IntakeJournal>(journalPath);
        journal->recover();
        queue.setJournal(journal.get());
    }
    station::OriginTag origin;
    station::NetworkIntake intake(queue, origin);
    intake.start(0);

    // The moment the last line went into the queue, seen from the intake's thread.
    QElapsedTimer clock;
    std::atomic<quint64> appended = 0;
    std::atomic<qint64> lastAppendNs = 0;
    QObject::connect(
        &queue, &station::IntakeQueue::appended, &queue,
        [&](quint64, const QString&) {
            if (++appended == total)
                lastAppendNs = clock.nsecsElapsed();
        },
        Qt::DirectConnection);
    std::atomic<int> drains = 0;
    QObject::connect(
        &queue, &station::IntakeQueue::drained, &queue, [&] { ++drains; }, Qt::DirectConnection);

    tools::DeviceFleet::Options options;
    options.host = QHostAddress::LocalHost;
    options.port = intake.port();
    options.devices = s.devices;
    options.linesPerDevice = quint64(s.linesPerDevice);
    options.linesPerSecond = 0;
    options.seed = kSeed;
    options.connectIntervalMs = s.connectIntervalMs;
    options.extraBytes = s.extraBytes;
    QThread senderThread;
    tools::DeviceFleet fleet(options);
    fleet.moveToThread(&senderThread);
    senderThread.start();

    // The lines each device must have produced, regenerated on this side.
    std::vector<tools::ReadingGenerator> expected;
    expected.reserve(std::size_t(s.devices));
    for (int d = 0; d < s.devices; ++d)
        expected.emplace_back(kSeed, d, tools::FailureRates{}, s.extraBytes);
    const QString prefix = QChar(0x02) + u"127.0.0.1\t"_s;

    std::unique_ptr<GroupCommit> groupCommit;
    if (journal)
        groupCommit = std::make_unique<GroupCommit>(*journal, queue);
    clock.start();
    QMetaObject::invokeMethod(&fleet, &tools::DeviceFleet::start, Qt::QueuedConnection);

    quint64 received = 0;
    quint64 wrong = 0;
    qsizetype peakQueue = 0;
    qsizetype peakBytes = 0;
    const QDeadlineTimer deadline(std::chrono::seconds(s.timeoutSeconds));
    while (received < total && !deadline.hasExpired()) {
        if ((received & 1023) == 0 || s.tickUs > 0) {
            peakQueue = std::max(peakQueue, queue.size());
            peakBytes = std::max(peakBytes, queue.bytes());
        }
        auto item = queue.takeFront();
        if (!item) {
            QThread::usleep(100);
            continue;
        }
        ++received;
        if (s.tickUs > 0)
            QThread::usleep(s.tickUs);
        queue.markDone(item->id);
        const int device = tools::ReadingGenerator::deviceOf(item->text);
        if (device < 0 || device >= s.devices) {
            ++wrong;
            continue;
        }
        const QByteArray line = expected[std::size_t(device)].next();
        const QString want = prefix + station::LineSplitter::decode(QByteArrayView(line).chopped(1)) + u'\n';
        if (item->text != want)
            ++wrong;
    }
    const double consumedSeconds = clock.nsecsElapsed() / 1e9;
    const double intoQueueSeconds = lastAppendNs.load() / 1e9;
    groupCommit.reset();

    Result result;
    result.complete = received == total && wrong == 0 && queue.isEmpty();
    if (!result.complete) {
        const auto sent = fleet.perDevice();
        for (int d = 0; d < s.devices; ++d) {
            const quint64 got = expected[std::size_t(d)].counts().lines;
            if (got != quint64(s.linesPerDevice))
                std::printf("device %d: sent %llu, received %llu\n", d,
                            static_cast<unsigned long long>(sent[std::size_t(d)].lines),
                            static_cast<unsigned long long>(got));
        }
        std::printf("connections failed %d, lost %d, intake connections still open %lld\n",
                    fleet.failedConnections(), fleet.lostConnections(),
                    static_cast<long long>(intake.connectionCount()));
    }
    std::printf("%s: received %llu, wrong or out of order %llu, still queued %lld: %s\n",
                journal ? "with the journal   " : "without the journal",
                static_cast<unsigned long long>(received), static_cast<unsigned long long>(wrong),
                static_cast<long long>(queue.size()),
                result.complete ? "every line, in order" : "LINES LOST");
    if (intoQueueSeconds > 0) {
        result.intoQueue = double(total) / intoQueueSeconds;
        std::printf("  into the queue: %.0f lines/s (%.3f s)\n", result.intoQueue, intoQueueSeconds);
    }
    result.workedOff = double(received) / consumedSeconds;
    std::printf("  worked off:     %.0f lines/s (%.3f s)\n", result.workedOff, consumedSeconds);
    std::printf("  queue peak (sampled) %lld items, %.1f MiB, drained after push-back %d times\n",
                static_cast<long long>(peakQueue), peakBytes / 1048576.0, drains.load());
    if (journal) {
        // The marks of the last lines, as the next group commit would write them: the file is cut back.
        journal->writeDoneMarks(journal->takeDoneMarks());
        std::printf("  journal: %lld bytes left after the last marks\n",
                    static_cast<long long>(QFileInfo(journalPath).size()));
    }
    QMetaObject::invokeMethod(&fleet, &tools::DeviceFleet::stop, Qt::BlockingQueuedConnection);
    intake.stop();
    senderThread.quit();
    senderThread.wait();
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {u"devices"_s, u"Devices (default 100)."_s, u"n"_s, u"100"_s},
        {u"lines"_s, u"Lines per device (default 2000)."_s, u"n"_s, u"2000"_s},
        {u"high-water"_s, u"High-water mark of the queue (default 10000)."_s, u"n"_s, u"10000"_s},
        {u"timeout"_s, u"Give up a run after this many seconds (default 120)."_s, u"s"_s, u"120"_s},
        {u"high-water-bytes"_s, u"High-water mark of the queue in bytes of text (default 16 MiB)."_s, u"n"_s,
         QString::number(station::IntakeQueue::kDefaultHighWaterBytes)},
        {u"extra-bytes"_s, u"Bytes added to every line (default 0): long-line loads."_s, u"n"_s, u"0"_s},
        {u"tick-us"_s, u"Microseconds the consumer waits after each line (default 0), as the tick's pace."_s,
         u"us"_s, u"0"_s},
        {u"connect-interval"_s,
         u"Milliseconds between two devices connecting (default 2); 0 connects them all at the same instant."_s,
         u"ms"_s, u"2"_s},
        {u"rounds"_s, u"Rounds of one run without and one with the journal (default 3)."_s, u"n"_s, u"3"_s},
        {u"journal-dir"_s, u"Folder for the journal file (default: a temporary folder)."_s, u"dir"_s},
    });
    parser.process(app);
    Settings s;
    s.devices = parser.value(u"devices"_s).toInt();
    s.linesPerDevice = parser.value(u"lines"_s).toInt();
    s.highWater = parser.value(u"high-water"_s).toLongLong();
    s.highWaterBytes = parser.value(u"high-water-bytes"_s).toLongLong();
    s.extraBytes = parser.value(u"extra-bytes"_s).toLongLong();
    s.tickUs = parser.value(u"tick-us"_s).toULong();
    s.connectIntervalMs = parser.value(u"connect-interval"_s).toInt();
    s.timeoutSeconds = parser.value(u"timeout"_s).toInt();
    const int rounds = std::max(1, parser.value(u"rounds"_s).toInt());

    QTemporaryDir temporary;
    const QString journalDir =
        parser.isSet(u"journal-dir"_s) ? parser.value(u"journal-dir"_s) : temporary.path();
    const QString journalPath = QDir(journalDir).filePath(station::IntakeJournal::kFileName.toString());

    std::printf("devices %d x lines %d = %llu lines, high-water mark %lld lines or %.1f MiB, journal %s\n",
                s.devices, s.linesPerDevice, static_cast<unsigned long long>(s.total()),
                static_cast<long long>(s.highWater), s.highWaterBytes / 1048576.0,
                qPrintable(QDir::toNativeSeparators(journalPath)));
    bool complete = true;
    std::vector<double> plain;
    std::vector<double> journaled;
    for (int round = 0; round < rounds; ++round) {
        const Result without = runOnce(s, QString());
        const Result with = runOnce(s, journalPath);
        complete = complete && without.complete && with.complete;
        plain.push_back(without.intoQueue);
        journaled.push_back(with.intoQueue);
    }
    QFile::remove(journalPath);

    const double plainRate = median(plain);
    const double journaledRate = median(journaled);
    std::printf("\ninto the queue, median of %d rounds:\n", rounds);
    std::printf("  without the journal %.0f lines/s\n", plainRate);
    std::printf("  with the journal    %.0f lines/s (target at least 100000: %s)\n", journaledRate,
                journaledRate >= 100000 ? "met" : "NOT MET");
    if (plainRate > 0)
        std::printf("  with / without      %.2f\n", journaledRate / plainRate);
    std::printf("peak RSS %.1f MiB (devices and station in one process)\n", peakRssKib() / 1024.0);
    return complete ? 0 : 1;
}
