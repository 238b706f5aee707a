// A long outage of the database: the station goes on storing rows, which wait in the row outbox.
// Appends --rows rows (2 000 000 unless told) at full speed through the outbox and the writer's wake,
// as the core does, while the writer tries a server that refuses every connect. Prints the outbox
// file's size and the process's resident memory before and after, and what the memory would be
// after a day's backlog at 200 rows a second, extrapolated from the growth per row measured. Then
// points the writer at an embedded database (in --dir, or a temporary folder) and times the drain
// of the backlog. Every row must be stored once, none refused.

#include "base/LineId.h"
#include "storage/PendingRow.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Port 1 refuses at once: the writer fails its connect without waiting on a timeout.
const QString kUnreachable = u"127.0.0.1/1:/x.fdb"_s;
constexpr double kDayRows = 200.0 * 86400.0;
constexpr double kRssTargetMiB = 100.0;
constexpr double kMiB = 1024.0 * 1024.0;
// A drain whose pending count does not move for this long has stalled.
constexpr qint64 kStallMs = 60000;

// A line of /proc/self/status, in bytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
qint64 procStatus(QByteArrayView key) {
    QFile file(u"/proc/self/status"_s);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // procfs reports a size of 0, which atEnd() takes at its word: read to the end instead.
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key) && line.size() > key.size() && line[key.size()] == ':')
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

double mib(qint64 bytes) {
    return double(bytes) / kMiB;
}

// A row as the record processor stores it for a typical line, each with its own reading.
storage::PendingRow typicalRow(quint64 sequence, const QDateTime& at) {
    return {base::LineId{0x0ff1e0ba, sequence}.text(),
            at,
            {u"P01"_s, u"CAM-01"_s, u"GUIA0001ZXWV0002TSRQ0003"_s, 12.5, 30.0, 45.5, 4.5, 3.4125,
             u"Con dim-Con peso-Con guía"_s}};
}

// What the writer tells, from its own thread.
class WriterLog final {
public:
    explicit WriterLog(storage::RowWriter& writer) {
        QObject::connect(
            &writer, &storage::RowWriter::rowsStored, &writer,
            [this](qint64 stored, qint64 alreadyThere) {
                m_stored += stored - alreadyThere;
                m_alreadyThere += alreadyThere;
            },
            Qt::DirectConnection);
        QObject::connect(
            &writer, &storage::RowWriter::rowRefused, &writer,
            [this](const storage::PendingRow&, const QString&, const QString& error) {
                ++m_refused;
                note(error);
            },
            Qt::DirectConnection);
        QObject::connect(
            &writer, &storage::RowWriter::connectionLost, &writer,
            [this](const QString& error) {
                ++m_lost;
                note(error);
            },
            Qt::DirectConnection);
        QObject::connect(
            &writer, &storage::RowWriter::outboxFailed, &writer,
            [this](const QString& error) { note(error); }, Qt::DirectConnection);
    }
    Q_DISABLE_COPY_MOVE(WriterLog)

    qint64 stored() const { return m_stored; }
    qint64 alreadyThere() const { return m_alreadyThere; }
    qint64 refused() const { return m_refused; }
    int lost() const { return m_lost; }
    QString last() const {
        const std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    void note(const QString& error) {
        const std::lock_guard lock(m_mutex);
        m_last = error;
    }

    std::atomic<qint64> m_stored = 0;
    std::atomic<qint64> m_alreadyThere = 0;
    std::atomic<qint64> m_refused = 0;
    std::atomic<int> m_lost = 0;
    mutable std::mutex m_mutex;
    QString m_last;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Rows stored while the database is away, then its return."_s);
    parser.addHelpOption();
    const QCommandLineOption rowsOption(u"rows"_s, u"Rows appended during the outage."_s, u"N"_s,
                                        u"2000000"_s);
    const QCommandLineOption dirOption(u"dir"_s, u"Folder for the outbox and the database."_s, u"DIR"_s);
    parser.addOptions({rowsOption, dirOption});
    parser.process(application);
    bool ok = false;
    const qint64 rows = parser.value(rowsOption).toLongLong(&ok);
    if (!ok || rows <= 0) {
        std::fprintf(stderr, "--rows takes a positive number\n");
        return 2;
    }
    std::optional<QTemporaryDir> temporary;
    QDir dir(parser.value(dirOption));
    if (!parser.isSet(dirOption)) {
        temporary.emplace();
        dir.setPath(temporary->path());
    }
    if (!dir.exists()) {
        std::fprintf(stderr, "no folder %s\n", qPrintable(dir.path()));
        return 2;
    }
    const QString outboxPath = dir.filePath(u"filas.diario"_s);
    const QString databasePath = dir.filePath(u"backlog.fdb"_s);
    QFile::remove(outboxPath);
    QFile::remove(databasePath);

    auto outbox = std::make_shared<storage::RowOutbox>(outboxPath);
    storage::RowWriter writer(outbox);
    WriterLog log(writer);
    writer.setDatabaseName(kUnreachable);
    writer.start();
    // The first row makes the writer connect. Once that has been refused the client is loaded: what
    // grows from here on is the backlog's.
    const QDateTime start = QDateTime::currentDateTime();
    outbox->append(typicalRow(0, start.addMSecs(-rows * 5)));
    writer.wake();
    QElapsedTimer waited;
    waited.start();
    while (log.lost() == 0 && waited.elapsed() < 30000)
        std::this_thread::sleep_for(10ms);
    if (log.lost() == 0) {
        std::fprintf(stderr, "the writer never told its connect to %s failed\n", qPrintable(kUnreachable));
        return 1;
    }
    std::printf("database away (%s): %s\n", qPrintable(kUnreachable), qPrintable(log.last()));

    const qint64 rssBefore = procStatus("VmRSS");
    std::printf("before: outbox %.1f MiB, RSS %.1f MiB\n", mib(QFileInfo(outboxPath).size()), mib(rssBefore));

    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 1; i < rows; ++i) {
        // Stamped as a station reading 200 a second would have stamped them.
        outbox->append(typicalRow(quint64(i), start.addMSecs((i - rows) * 5)));
        writer.wake();
    }
    const double appendSeconds = double(clock.nsecsElapsed()) / 1e9;
    const qint64 rssAfter = procStatus("VmRSS");
    const qint64 fileAfter = QFileInfo(outboxPath).size();
    if (outbox->blocked()) {
        std::fprintf(stderr, "the outbox refused rows: %s\n", qPrintable(outbox->blockedReason()));
        return 1;
    }
    if (outbox->pendingCount() != rows || log.stored() != 0) {
        std::fprintf(stderr, "%lld rows waiting and %lld stored, of %lld\n",
                     qlonglong(outbox->pendingCount()), qlonglong(log.stored()), qlonglong(rows));
        return 1;
    }
    std::printf("after %lld rows in %.1f s (%.0f rows/s): outbox %.1f MiB (%.0f bytes a row), RSS %.1f MiB\n",
                qlonglong(rows), appendSeconds, double(rows - 1) / appendSeconds, mib(fileAfter),
                double(fileAfter) / double(rows), mib(rssAfter));
    const double growthPerRow = double(rssAfter - rssBefore) / double(std::max<qint64>(rows - 1, 1));
    std::printf("RSS growth %.2f bytes a row; extrapolated from it to a day's backlog (200 rows/s x 86 400 s "
                "= %.2f M rows): RSS %.1f MiB (target < %.0f MiB), outbox %.0f MiB\n",
                growthPerRow, kDayRows / 1e6, mib(rssBefore) + growthPerRow * kDayRows / kMiB, kRssTargetMiB,
                double(fileAfter) / double(rows) * kDayRows / kMiB);

    // The database is back.
    clock.restart();
    writer.setDatabaseName(databasePath);
    qint64 pending = outbox->pendingCount();
    QElapsedTimer moved;
    moved.start();
    QElapsedTimer progress;
    progress.start();
    while (pending > 0) {
        std::this_thread::sleep_for(10ms);
        const qint64 now = outbox->pendingCount();
        if (now != pending)
            moved.restart();
        pending = now;
        if (moved.elapsed() >= kStallMs) {
            std::fprintf(stderr, "the drain stalled with %lld rows waiting: %s\n", qlonglong(pending),
                         qPrintable(log.last()));
            return 1;
        }
        if (progress.elapsed() >= 10000) {
            progress.restart();
            std::printf("  %lld rows waiting after %.0f s\n", qlonglong(pending),
                        double(clock.elapsed()) / 1e3);
            std::fflush(stdout);
        }
    }
    const double drainSeconds = double(clock.nsecsElapsed()) / 1e9;
    const double drainRate = double(rows) / drainSeconds;
    std::printf("drained %lld rows in %.1f s: %.0f rows/s (a day's backlog in about %.0f min); RSS %.1f MiB, "
                "peak %.1f MiB\n",
                qlonglong(rows), drainSeconds, drainRate, kDayRows / drainRate / 60.0,
                mib(procStatus("VmRSS")), mib(procStatus("VmHWM")));
    writer.stop();
    if (log.stored() != rows || log.alreadyThere() != 0 || log.refused() != 0) {
        std::fprintf(stderr, "%lld rows stored, %lld already there, %lld refused, of %lld: %s\n",
                     qlonglong(log.stored()), qlonglong(log.alreadyThere()), qlonglong(log.refused()),
                     qlonglong(rows), qPrintable(log.last()));
        return 1;
    }
    return 0;
}
