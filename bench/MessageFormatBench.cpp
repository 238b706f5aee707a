#include "records/MessageFormat.h"

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

const QString kFrame = u"\x02"
                       "10.1.2.3\t\x02"
                       "H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                       "GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5\tXYZ\t"_s;

void recordTextAndSlots(benchmark::State& state) {
    for (auto _ : state) {
        const records::RecordText record = records::recordText(kFrame, u"!");
        const records::Slots slots = records::cutSlots(records::withoutHeader(record.text), u"!");
        const records::Dimensions d = records::splitDimensions(slots.slot[5], u"x");
        const records::Group32 g = records::splitGroup32(slots.slot[3]);
        benchmark::DoNotOptimize(d);
        benchmark::DoNotOptimize(g);
    }
}
BENCHMARK(recordTextAndSlots);

} // namespace

BENCHMARK_MAIN();
