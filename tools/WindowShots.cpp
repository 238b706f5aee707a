// Renders each visible tab of the station window into a PNG, with a sample record on the panel,
// for the README. Runs on any Qt platform; scripts/screenshots uses the offscreen one.
#include "app/CoreStation.h"
#include "ui/CyanDusk.h"
#include "ui/QualityTab.h"
#include "ui/WindowFrontEnd.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTest>

#include <cmath>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void showSampleRecord(app::CoreStation& core) {
    using station::Field;
    using station::Light;
    station::LivePanel& panel = core.panel();
    panel.setText(Field::Lfecha, u"202403141042"_s);
    panel.setText(Field::Lorigen, u"Banda 1"_s);
    panel.setText(Field::Lseq, u"004217"_s);
    panel.setText(Field::LC128, u"ABC1234567890123456789"_s);
    panel.setText(Field::LC128_32, u"0012345678|0003.250|MTY"_s);
    panel.setText(Field::Lhhh, u"32.5"_s);
    panel.setText(Field::llll, u"21.0"_s);
    panel.setText(Field::lwww, u"14.2"_s);
    panel.setText(Field::lpeso, u"3.250"_s);
    panel.setText(Field::lpesov, u"1.94"_s);
    panel.setText(Field::lplaza, u"MTY"_s);
    panel.setText(Field::lProcesados, u"4217"_s);
    panel.setText(Field::lStatus, u"Con dim-Con peso-Con gu\u00eda"_s);
    panel.setText(Field::Label54, u"004217!ABC1234567890123456789!0012345678|0003.250|MTY!32.5x21.0x14.2!"_s);
    panel.setText(Field::Label1, u"Orvane Monitoreando en puerto  :5010"_s);
    panel.setLit(Light::LedInput, true);
    panel.setStatus(0, u"12.4 ms"_s);
    panel.setStatus(1, u"L:72"_s);
    panel.setStatus(2, u"\u0002192.168.1.4\t004217!ABC1234567890123456789!..."_s);
    for (int i = 0; i < 6; ++i)
        core.queue().append(u"\u0002192.168.1.%1\t0042%2!ABC12345678901234567%2!0012345678|0003.250|MTY!"
                            "32.5x21.0x14.2!\n"_s.arg(4 + i % 2)
                                .arg(18 + i));
}

// A shift's worth of history for the quality tab: a steady line with a slow spell and a dip in
// quality when a camera got dirty, and the alert it raised.
void showSampleHistory(app::CoreStation& core, ui::QualityTab& tab) {
    const QDateTime now = QDateTime::currentDateTime();
    double quality = 99.2;
    for (int minute = ui::QualityTrend::kMinutes - 1; minute >= 0; --minute) {
        const QDateTime at = now.addSecs(-60 * qint64(minute));
        const int slot = ui::QualityTrend::kMinutes - minute;
        const bool slow = slot > 150 && slot < 175;
        const bool dirty = slot > 300 && slot < 330;
        const int rows = int((slow ? 45 : 170) + 12 * std::sin(slot / 9.0) + (slot * 7) % 5);
        quality += dirty ? -0.35 : (99.2 - quality) * 0.08;
        tab.record(at, rows, quality);
    }
    core.alerts().note(now.addSecs(-60 * 155), true, u"Alerta de calidad enviada"_s);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"docs"_s;
    QDir().mkpath(folder);
    if (const QString problem = ui::applyCyanDusk(application); !problem.isEmpty())
        std::fprintf(stderr, "%s\n", qUtf8Printable(problem));

    app::CoreStation core;
    // The processed count is there before the window, as after a long shift: the window takes it as
    // its starting point, not as rows of this minute.
    core.panel().setText(station::Field::lProcesados, u"4217"_s);
    ui::WindowFrontEnd front(core);
    ui::TVuruvov& window = front.window();
    window.show();
    showSampleRecord(core);
    showSampleHistory(core, window.qualityTab());
    window.qualityTab().redraw();

    auto* tabs = window.findChild<QTabWidget*>(u"PageControl1"_s);
    const char* const files[] = {"tab-operacion.png", "tab-configuracion.png", "tab-acerca-de.png",
                                 "tab-log-ethernet.png", "tab-calidad.png"};
    int written = 0;
    for (int i = 0; i < tabs->count(); ++i) {
        if (!tabs->isTabVisible(i))
            continue;
        tabs->setCurrentIndex(i);
        QTest::qWait(3 * ui::TVuruvov::kFrameMs); // let the frame with the sample record land
        const QString path = folder + u'/' + QString::fromLatin1(files[written]);
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "No se pudo escribir %s\n", qUtf8Printable(path));
            return 1;
        }
        std::printf("%s\n", qUtf8Printable(path));
        ++written;
    }
    return 0;
}
