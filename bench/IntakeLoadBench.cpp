// Load on the network intake: many devices sending as fast as they can into one station intake,
// the queue worked off on the consumer's side as fast as possible. Checks that every line arrives,
// unchanged and in order per device, and reports lines per second into the queue and peak memory.
// With --lines 1 --connect-interval 0 and many devices it is the burst of devices that all connect
// at the same instant, each with one line: every one of them must arrive.

#include "station/IntakeQueue.h"
#include "station/LineSplitter.h"
#include "station/NetworkIntake.h"
#include "station/OriginTag.h"
#include "tools/DeviceFleet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

long peakRssKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
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
        {u"timeout"_s, u"Give up after this many seconds (default 120)."_s, u"s"_s, u"120"_s},
        {u"high-water-bytes"_s, u"High-water mark of the queue in bytes of text (default 16 MiB)."_s, u"n"_s,
         QString::number(station::IntakeQueue::kDefaultHighWaterBytes)},
        {u"extra-bytes"_s, u"Bytes added to every line (default 0): long-line loads."_s, u"n"_s, u"0"_s},
        {u"tick-us"_s, u"Microseconds the consumer waits after each line (default 0), as the tick's pace."_s,
         u"us"_s, u"0"_s},
        {u"connect-interval"_s,
         u"Milliseconds between two devices connecting (default 2); 0 connects them all at the same instant."_s,
         u"ms"_s, u"2"_s},
    });
    parser.process(app);
    const int devices = parser.value(u"devices"_s).toInt();
    const int linesPerDevice = parser.value(u"lines"_s).toInt();
    const qsizetype highWater = parser.value(u"high-water"_s).toLongLong();
    const qsizetype highWaterBytes = parser.value(u"high-water-bytes"_s).toLongLong();
    const qsizetype extraBytes = parser.value(u"extra-bytes"_s).toLongLong();
    const unsigned long tickUs = parser.value(u"tick-us"_s).toULong();
    const quint64 total = quint64(devices) * quint64(linesPerDevice);
    constexpr quint32 kSeed = 20240501;

    station::IntakeQueue queue(highWater, highWaterBytes);
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
    int drains = 0;
    QObject::connect(
        &queue, &station::IntakeQueue::drained, &queue, [&] { ++drains; }, Qt::DirectConnection);

    tools::DeviceFleet::Options options;
    options.host = QHostAddress::LocalHost;
    options.port = intake.port();
    options.devices = devices;
    options.linesPerDevice = quint64(linesPerDevice);
    options.linesPerSecond = 0;
    options.seed = kSeed;
    options.connectIntervalMs = parser.value(u"connect-interval"_s).toInt();
    options.extraBytes = extraBytes;
    QThread senderThread;
    tools::DeviceFleet fleet(options);
    fleet.moveToThread(&senderThread);
    senderThread.start();

    // The lines each device must have produced, regenerated on this side.
    std::vector<tools::ReadingGenerator> expected;
    expected.reserve(std::size_t(devices));
    for (int d = 0; d < devices; ++d)
        expected.emplace_back(kSeed, d, tools::FailureRates{}, extraBytes);
    const QString prefix = QChar(0x02) + u"127.0.0.1\t"_s;

    clock.start();
    QMetaObject::invokeMethod(&fleet, &tools::DeviceFleet::start, Qt::QueuedConnection);

    quint64 received = 0;
    quint64 wrong = 0;
    qsizetype peakQueue = 0;
    qsizetype peakBytes = 0;
    const QDeadlineTimer deadline(std::chrono::seconds(parser.value(u"timeout"_s).toInt()));
    while (received < total && !deadline.hasExpired()) {
        if ((received & 1023) == 0 || tickUs > 0) {
            peakQueue = std::max(peakQueue, queue.size());
            peakBytes = std::max(peakBytes, queue.bytes());
        }
        auto item = queue.takeFront();
        if (!item) {
            QThread::usleep(100);
            continue;
        }
        ++received;
        if (tickUs > 0)
            QThread::usleep(tickUs);
        const int device = tools::ReadingGenerator::deviceOf(item->text);
        if (device < 0 || device >= devices) {
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

    const bool complete = received == total && wrong == 0 && queue.isEmpty();
    if (!complete) {
        const auto sent = fleet.perDevice();
        for (int d = 0; d < devices; ++d) {
            const quint64 got = expected[std::size_t(d)].counts().lines;
            if (got != quint64(linesPerDevice))
                std::printf("device %d: sent %llu, received %llu\n", d,
                            static_cast<unsigned long long>(sent[std::size_t(d)].lines),
                            static_cast<unsigned long long>(got));
        }
        std::printf("connections failed %d, lost %d, intake connections still open %lld\n",
                    fleet.failedConnections(), fleet.lostConnections(),
                    static_cast<long long>(intake.connectionCount()));
    }
    std::printf("devices %d x lines %d = %llu lines, high-water mark %lld lines or %.1f MiB\n", devices,
                linesPerDevice, static_cast<unsigned long long>(total), static_cast<long long>(highWater),
                highWaterBytes / 1048576.0);
    std::printf("received %llu, wrong or out of order %llu, still queued %lld: %s\n",
                static_cast<unsigned long long>(received), static_cast<unsigned long long>(wrong),
                static_cast<long long>(queue.size()), complete ? "every line, in order" : "LINES LOST");
    if (intoQueueSeconds > 0)
        std::printf("into the queue: %.0f lines/s (%.3f s)\n", double(total) / intoQueueSeconds,
                    intoQueueSeconds);
    std::printf("worked off:     %.0f lines/s (%.3f s)\n", double(received) / consumedSeconds,
                consumedSeconds);
    std::printf("queue peak (sampled) %lld items, %.1f MiB, drained after push-back %d times\n",
                static_cast<long long>(peakQueue), peakBytes / 1048576.0, drains);
    std::printf("peak RSS %.1f MiB (devices and station in one process)\n", peakRssKib() / 1024.0);
    QMetaObject::invokeMethod(&fleet, &tools::DeviceFleet::stop, Qt::BlockingQueuedConnection);
    intake.stop();
    senderThread.quit();
    senderThread.wait();
    return complete ? 0 : 1;
}
