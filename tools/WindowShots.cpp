// Renders each visible tab of the station window into a PNG, with a sample record on the panel,
// for the README. Runs on any Qt platform; scripts/screenshots uses the offscreen one.
#include "app/CoreStation.h"
#include "ui/CyanDusk.h"
#include "ui/WindowFrontEnd.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTest>

#include <cstdio>

namespace {

void showSampleRecord(app::CoreStation& core) {
    using station::Field;
    using station::Light;
    station::LivePanel& panel = core.panel();
    panel.setText(Field::Lfecha, QStringLiteral("14/03/2024 10:42:07"));
    panel.setText(Field::Lorigen, QStringLiteral("Banda 1"));
    panel.setText(Field::Lseq, QStringLiteral("004217"));
    panel.setText(Field::LC128, QStringLiteral("ABC1234567890123456789"));
    panel.setText(Field::LC128_32, QStringLiteral("0012345678|0003.250|MTY"));
    panel.setText(Field::Lhhh, QStringLiteral("32.5"));
    panel.setText(Field::llll, QStringLiteral("21.0"));
    panel.setText(Field::lwww, QStringLiteral("14.2"));
    panel.setText(Field::lpeso, QStringLiteral("3.250"));
    panel.setText(Field::lpesov, QStringLiteral("1.94"));
    panel.setText(Field::lplaza, QStringLiteral("MTY"));
    panel.setText(Field::lProcesados, QStringLiteral("4217"));
    panel.setText(Field::lStatus, QStringLiteral("Con dim-Con peso-Con gu\u00eda"));
    panel.setText(Field::Label54,
                  QStringLiteral("004217!ABC1234567890123456789!0012345678|0003.250|MTY!32.5x21.0x14.2!"));
    panel.setText(Field::Label1, QStringLiteral("Orvane Monitoreando en puerto  :5010"));
    panel.setLit(Light::LedInput, true);
    panel.setStatus(0, QStringLiteral("12.4 ms"));
    panel.setStatus(1, QStringLiteral("L:72"));
    panel.setStatus(2, QStringLiteral("\u0002192.168.1.4\t004217!ABC1234567890123456789!..."));
    for (int i = 0; i < 6; ++i)
        core.queue().append(
            QStringLiteral("\u0002192.168.1.%1\t0042%2!ABC12345678901234567%2!0012345678|0003.250|MTY!"
                           "32.5x21.0x14.2!\n")
                .arg(4 + i % 2)
                .arg(18 + i));
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(folder);
    if (const QString problem = ui::applyCyanDusk(application); !problem.isEmpty())
        std::fprintf(stderr, "%s\n", qUtf8Printable(problem));

    app::CoreStation core;
    ui::WindowFrontEnd front(core);
    ui::TVuruvov& window = front.window();
    window.show();
    showSampleRecord(core);

    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const char* const files[] = {"tab-operacion.png", "tab-configuracion.png", "tab-acerca-de.png",
                                 "tab-log-ethernet.png"};
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
