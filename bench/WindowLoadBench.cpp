// Load run for the station window: a core on its own thread writes the live panel as the record
// processor does for 200 records a second, while a connection thread queues the lines and the
// core takes them, and the window follows all of it. Reports the CPU share of the window's and the
// core's threads, the frames the window painted, and how late a 10 ms probe timer on the window's
// thread ran (its responsiveness). Then a burst of 20000 queued lines, and how long the window
// needs to show them.
//
//   QT_QPA_PLATFORM=offscreen bench_window_load [seconds] [records per second] [hidden|calidad]
#include "app/CoreStation.h"
#include "ui/CyanDusk.h"
#include "ui/QualityTab.h"
#include "ui/WindowFrontEnd.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// What one record does to the panel: placeholders first, then the values, lights, counters and
// the status bar (about thirty notifications).
void writeRecord(station::LivePanel& panel, int n) {
    using station::Field;
    using station::Light;
    panel.setLit(Light::Leddeco, true);
    for (const Field f : {Field::LC128, Field::LC128_32, Field::Lhhh, Field::llll, Field::lwww})
        panel.setText(f, u"???"_s);
    panel.setText(Field::Logflash, u"frame %1"_s.arg(n));
    panel.setText(Field::Lfecha, u"14/03/2024 10:42:%1"_s.arg(n % 60));
    panel.setText(Field::Lorigen, u"192.168.1.4"_s);
    panel.setText(Field::Lseq, u"%1"_s.arg(n % 1000000, 6, 10, QChar(u'0')));
    panel.setText(Field::LC128, u"ABC12345678901234%1"_s.arg(n % 100000, 5, 10, QChar(u'0')));
    panel.setText(Field::LC128_32, u"0012345678|0003.250|MTY"_s);
    panel.setText(Field::Lhhh, u"32.5"_s);
    panel.setText(Field::llll, u"21.0"_s);
    panel.setText(Field::lwww, u"14.2"_s);
    panel.setText(Field::lpeso, u"3.250"_s);
    panel.setText(Field::lpesov, u"1.94"_s);
    panel.setText(Field::lplaza, u"MTY"_s);
    panel.setLit(Light::LedInput, n % 7 != 0);
    panel.setLit(Light::LedOutput, n % 5 != 0);
    panel.setText(Field::lStatus, u"Con dim-Con peso-Con gu\u00eda"_s);
    panel.setText(Field::Label54, u"004217!ABC1234567890123456789!0012345678|0003.250|MTY!32.5x21.0x14.2"_s);
    panel.increment(Field::lProcesados);
    panel.increment(Field::Lbuenos);
    panel.setText(Field::Lcalidad, u"99.%1"_s.arg(n % 100, 2, 10, QChar(u'0')));
    panel.setStatus(0, u"%1 ms"_s.arg(n % 20));
    panel.setText(Field::LC128, QString());
    panel.setLit(Light::Leddeco, false);
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication application(argc, argv);
    ui::applyCyanDusk(application);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int rate = argc > 2 ? std::atoi(argv[2]) : 200;

    QThread coreThread;
    app::CoreStation core;
    ui::WindowFrontEnd front(core);
    ui::TVuruvov& window = front.window();
    core.moveToThread(&coreThread);
    coreThread.start();
    // "hidden" leaves the window unshown: what the notifications cost without any painting.
    const bool hidden = argc > 3 && std::strcmp(argv[3], "hidden") == 0;
    if (!hidden)
        window.show();
    // "calidad" watches the quality tab instead of the operation tab: the chart's redraws on top.
    if (argc > 3 && std::strcmp(argv[3], "calidad") == 0) {
        if (auto* tabs = window.findChild<QTabWidget*>(u"PageControl1"_s))
            tabs->setCurrentWidget(&window.qualityTab());
    }

    // The core: one record per tick of the feed, taking its line off the queue first.
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    feed.setInterval(1000 / rate);
    feed.moveToThread(&coreThread);
    std::atomic<int> records{0};
    double coreCpuStart = 0;
    QObject::connect(&feed, &QTimer::timeout, &feed, [&] {
        core.queue().takeFront();
        writeRecord(core.panel(), ++records);
    });
    QMetaObject::invokeMethod(
        &feed,
        [&] {
            coreCpuStart = threadCpuSeconds();
            feed.start();
        },
        Qt::BlockingQueuedConnection);

    // A device connection queueing its lines at the same rate.
    std::atomic<bool> sending{true};
    std::thread connection([&] {
        QElapsedTimer clock;
        clock.start();
        for (qint64 sent = 0; sending; ++sent) {
            core.queue().append(u"\u0002192.168.1.4\t004217!ABC1234567890123456789!0012345678|0003"
                                ".250|MTY!32.5x21.0x14.2!\n"_s);
            const qint64 due = (sent + 1) * 1000 / rate;
            if (due > clock.elapsed())
                std::this_thread::sleep_for(std::chrono::milliseconds(due - clock.elapsed()));
        }
    });

    // The window thread's responsiveness: how late a 10 ms timer fires.
    QElapsedTimer probeClock;
    probeClock.start();
    qint64 lastProbe = 0, worstLate = 0, totalLate = 0, probes = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, &window, [&] {
        const qint64 now = probeClock.elapsed();
        if (lastProbe) {
            const qint64 late = std::max<qint64>(0, now - lastProbe - 10);
            worstLate = std::max(worstLate, late);
            totalLate += late;
            ++probes;
        }
        lastProbe = now;
    });
    probe.start(10);

    const int framesStart = window.framesApplied();
    const double windowCpuStart = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    application.exec();
    const double windowCpu = threadCpuSeconds() - windowCpuStart;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const int frames = window.framesApplied() - framesStart;

    sending = false;
    connection.join();
    double coreCpu = 0;
    QMetaObject::invokeMethod(
        &feed,
        [&] {
            feed.stop();
            coreCpu = threadCpuSeconds() - coreCpuStart;
        },
        Qt::BlockingQueuedConnection);

    std::printf("load: %d s at %d records/s (%d records, %d notifications each)\n", seconds, rate,
                records.load(), 33);
    std::printf("  window thread CPU: %.1f %%   core thread CPU: %.1f %%\n", 100.0 * windowCpu / elapsed,
                100.0 * coreCpu / elapsed);
    std::printf("  frames applied: %d (%.1f per second)\n", frames, frames / elapsed);
    std::printf("  10 ms probe lateness on the window thread: mean %.2f ms, worst %lld ms\n",
                probes ? double(totalLate) / double(probes) : 0.0, static_cast<long long>(worstLate));

    // A burst: 20000 lines queued at once by a connection thread, then taken all at once.
    auto* list = window.findChild<QListView*>(u"L1"_s);
    QAbstractItemModel* model = list->model();
    QElapsedTimer burst;
    burst.start();
    const double burstCpuStart = threadCpuSeconds();
    std::thread([&] {
        for (int i = 0; i < 20000; ++i)
            core.queue().append(u"\u0002192.168.1.5\tburst %1\n"_s.arg(i));
    }).join();
    // Nothing else moves the queue now: the list is complete when it holds what the queue holds.
    const int queued = int(core.queue().size());
    while (model->rowCount() != queued)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 shownAfter = burst.elapsed();
    QMetaObject::invokeMethod(
        &feed,
        [&] {
            while (core.queue().takeFront()) {
            }
        },
        Qt::BlockingQueuedConnection);
    while (model->rowCount() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("burst: 20000 lines shown after %lld ms, all gone after %lld ms, window CPU %.0f ms\n",
                static_cast<long long>(shownAfter), static_cast<long long>(burst.elapsed()),
                1000.0 * (threadCpuSeconds() - burstCpuStart));

    QMetaObject::invokeMethod(
        &feed, [&] { feed.moveToThread(application.thread()); }, Qt::BlockingQueuedConnection);
    coreThread.quit();
    coreThread.wait();
    return 0;
}
