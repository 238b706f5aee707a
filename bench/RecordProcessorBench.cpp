#include "base/Clock.h"
#include "config/Settings.h"
#include "records/RecordProcessor.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// Storage and evaluation replaced by nothing: this measures parsing and panel writes alone.
class NoSinks final : public records::RowStore,
                      public records::PeriodicLogSave,
                      public records::QualityEvaluation {
public:
    void insertar(const QString&) override {}
    double tiempoPromedio() const override { return 12.5; }
    void grabar_logs() override {}
    void evaluar_calidad(const QString&, const QString&, const QString&) override {}
};

class NoTimer final : public station::TickTimer {
public:
    void setEnabled(bool) override {}
    bool isEnabled() const override { return false; }
};

void procesarDato(benchmark::State& state) {
    station::LivePanel panel;
    config::Settings settings;
    settings.setLines(config::SettingId::LogiPs, config::LineList(u"10.1.2.3\r\n*\r\n"_s));
    settings.setLines(config::SettingId::LogCamNombre, config::LineList(u"CAM-01\r\nALL\r\n"_s));
    NoTimer timer;
    station::RawLog logRS232;
    NoSinks sinks;
    base::SystemClock clock;
    records::RecordProcessor processor({panel, settings, timer, logRS232, sinks, sinks, sinks, clock});
    // A view that follows the panel costs a connected slot per write, as the window does.
    QObject view;
    int writes = 0;
    QObject::connect(&panel, &station::LivePanel::fieldChanged, &view, [&writes] { ++writes; });

    const QString entry = u"\x02"
                          "10.1.2.3\t\x02"
                          "H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                          "GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5\tXYZ\t\n"_s;
    for (auto _ : state) {
        QString buffer = entry;
        processor.procesar_dato(buffer);
    }
    benchmark::DoNotOptimize(writes);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(procesarDato);

} // namespace

BENCHMARK_MAIN();
