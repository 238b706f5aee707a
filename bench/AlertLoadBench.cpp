// Load run for the alert path: the whole station core (embedded database, processing tick, quality
// counters, alert mail) takes 200 records a second from a feeding thread, first with every record
// read well, then with every record raising an alert against a mail server that accepts the
// connection and never says a word. Reports, for each run, the records stored per second, the worst
// lateness of a 5 ms timer on the core's thread (the tick's pace), the worst time from a line's
// arrival in the queue to its stored row, and what the alert path did. Both runs should look alike.
//
//   bench_alert_load [seconds per run] [records per second]
#include "app/CoreStation.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "tests/support/FreePort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using station::Field;

namespace {

// A mail server that takes connections and then stays silent; lives on a thread of its own.
class SilentServer final : public QObject {
public:
    SilentServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection())
                s->setParent(this);
            ++m_connections;
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }

private:
    QTcpServer m_server{this};
    std::atomic<int> m_connections{0};
};

QString item(int sequence, bool unreadH) {
    return u"\x02"_s + u"127.0.0.1\t"_s + u"\x02"_s +
           u"H00001!%1!PQ12RS34TU56VW78XY90ZZ ROUTE 55!"_s.arg(sequence, 6, 10, QChar(u'0')) +
           u"GT10HJ20KM30NP40QR50ST!GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!"_s +
           (unreadH ? u"???x030.0x045.5"_s : u"012.5x030.0x045.5"_s) + u"\tXYZ\t\n"_s;
}

struct RunResult {
    double storedPerSecond = 0;
    double worstTickLatenessMs = 0;
    double worstRecordMs = 0;
    int records = 0;
};

// Feeds `rate` lines a second for `seconds` from another thread and serves the core meanwhile.
RunResult run(app::CoreStation& core, int seconds, int rate, bool unreadH, int firstSequence) {
    const int total = seconds * rate;
    std::vector<qint64> appendedAt(std::size_t(total), 0);
    QElapsedTimer clock;
    clock.start();
    RunResult result;
    int stored = 0;
    qint64 lastStoredAt = 0;
    const auto processed = QObject::connect(
        &core.panel(), &station::LivePanel::fieldChanged, &core, [&](Field field, const QString&) {
            if (field != Field::lProcesados)
                return;
            const int index = core.panel().text(Field::Lseq).toInt() - firstSequence;
            if (index < 0 || index >= total)
                return;
            const qint64 now = clock.nsecsElapsed();
            result.worstRecordMs =
                std::max(result.worstRecordMs, double(now - appendedAt[std::size_t(index)]) / 1e6);
            ++stored;
            lastStoredAt = now;
        });
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    qint64 lastProbe = clock.nsecsElapsed();
    QObject::connect(&probe, &QTimer::timeout, &core, [&] {
        const qint64 now = clock.nsecsElapsed();
        result.worstTickLatenessMs =
            std::max(result.worstTickLatenessMs, double(now - lastProbe) / 1e6 - 5.0);
        lastProbe = now;
    });
    probe.start(5);

    const qint64 start = clock.nsecsElapsed();
    std::thread feeder([&] {
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < total; ++i) {
            std::this_thread::sleep_until(begin + std::chrono::microseconds(qint64(i) * 1'000'000 / rate));
            appendedAt[std::size_t(i)] = clock.nsecsElapsed();
            core.queue().append(item(firstSequence + i, unreadH));
        }
    });
    const QDeadlineTimer deadline(std::chrono::seconds(seconds + 30));
    while (stored < total && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    feeder.join();
    probe.stop();
    QObject::disconnect(processed);
    result.records = stored;
    result.storedPerSecond = double(stored) / (double(lastStoredAt - start) / 1e9);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rate = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;

    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    const QString settingsFile = work.filePath(u"OrvaneDB.reg"_s);
    {
        config::SettingsStore store(settingsFile);
        store.writeString(station::FormStorage::kKey, u"Edpuerto_Text"_s,
                          QString::number(testsupport::freePort(QHostAddress::LocalHost)));
        store.save();
    }

    QThread serverThread;
    auto silent = std::make_unique<SilentServer>();
    silent->moveToThread(&serverThread);
    serverThread.start();

    int result = 0;
    {
        app::CoreStation core(settingsFile);
        core.startUp();
        core.settings().setText(config::SettingId::EdMailserver, u"127.0.0.1"_s);
        core.settings().setText(config::SettingId::EdMailport, QString::number(silent->port()));

        // The database file is created by the first row; that is not what is measured.
        run(core, 1, 50, false, 900000);
        const int reportedBefore = silent->connections();
        const RunResult quiet = run(core, seconds, rate, false, 0);
        const quint64 droppedBefore = core.alertMail().outbox().dropped();
        const RunResult alerting = run(core, seconds, rate, true, 100000);

        std::printf("%d records a second for %d s per run\n", rate, seconds);
        std::printf("%-28s %10s %12s %16s %18s\n", "run", "stored", "stored/s", "tick late (ms)",
                    "arrival->row (ms)");
        for (const auto& [name, r] :
             {std::pair{"every record read well", quiet}, std::pair{"every record alerts, silent", alerting}})
            std::printf("%-28s %10d %12.1f %16.2f %18.2f\n", name, r.records, r.storedPerSecond,
                        r.worstTickLatenessMs, r.worstRecordMs);
        std::printf("mails started: %d; alerts waiting: %lld; dropped for want of room: %llu\n",
                    silent->connections() - reportedBefore,
                    static_cast<long long>(core.alertMail().outbox().waitingAlerts()),
                    static_cast<unsigned long long>(core.alertMail().outbox().dropped() - droppedBefore));

        QElapsedTimer closing;
        closing.start();
        bool closed = false;
        QObject::connect(&core, &app::CoreStation::closed, &core, [&] { closed = true; });
        core.close();
        while (!closed)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        std::printf("close with a mail in flight: %lld ms\n", static_cast<long long>(closing.elapsed()));
        if (quiet.records != seconds * rate || alerting.records != seconds * rate)
            result = 1;
    }
    QMetaObject::invokeMethod(
        silent.get(), [&] { silent.reset(); }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    QDir::setCurrent(previous);
    return result;
}
