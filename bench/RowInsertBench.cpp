// What one stored row costs the station (the queued entry parsed by the record processor, its row
// inserted through the executor and committed on the processing tick's cadence) against the raw client doing
// the same inserts with one prepared statement and the same commits. Both run on the embedded engine in one
// run; the ratio is printed.

#include "base/Clock.h"
#include "base/CodePage.h"
#include "config/Settings.h"
#include "records/PackageRowInsert.h"
#include "records/RecordProcessor.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"
#include "storage/FileStamp.h"
#include "storage/PaquetesInsert.h"
#include "storage/PaquetesTable.h"
#include "storage/StatementExecutor.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <firebird/Interface.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using station::Field;

namespace {

const QString kStatus = u"Con dim-Con peso-Con guía"_s;

QTemporaryDir& workDir() {
    static QTemporaryDir dir;
    return dir;
}

// The tick's cadence: commit when c is a multiple of 10 or below 10, c wrapping above 100.
class Cadence {
public:
    template <typename Commit> void tick(Commit&& commit) {
        if (m_c > 100)
            m_c = 0;
        if (m_c % 10 == 0 || m_c < 10)
            commit();
        ++m_c;
    }

private:
    int m_c = 0;
};

// No serial save, no quality evaluation and a timer that does nothing: the row is what is measured.
class Quiet final : public records::PeriodicLogSave,
                    public records::QualityEvaluation,
                    public station::TickTimer {
public:
    void grabar_logs() override {}
    void evaluar_calidad(const QString&, const QString&, const QString&) override {}
    void setEnabled(bool) override {}
    bool isEnabled() const override { return false; }
};

// The row as the station stored it before rows went through the outbox: built from the panel and
// run through the executor at once, on the processing thread.
class DirectRows final : public records::RowStore {
public:
    DirectRows(station::LivePanel& panel, storage::StatementExecutor& executor)
        : m_panel(panel)
        , m_executor(executor) {}
    void insertar(const QString& estatus) override {
        storage::PendingRow row;
        row.values = {m_panel.text(Field::lplaza),
                      m_panel.text(Field::Lorigen),
                      m_panel.text(Field::LC128),
                      records::PackageRowInsert::numero(m_panel.text(Field::Lhhh)),
                      records::PackageRowInsert::numero(m_panel.text(Field::llll)),
                      records::PackageRowInsert::numero(m_panel.text(Field::lwww)),
                      records::PackageRowInsert::numero(m_panel.text(Field::lpeso)),
                      records::PackageRowInsert::numero(m_panel.text(Field::lpesov)),
                      estatus};
        const storage::PaquetesInsert insert = storage::PaquetesInsert::of(row, false, false);
        m_executor.consultar(insert.sql, insert.values);
    }
    double tiempoPromedio() const override { return m_executor.tiempo_promedio(); }

private:
    station::LivePanel& m_panel;
    storage::StatementExecutor& m_executor;
};

// A queued entry as the network intake builds it, parsed by the record processor onto the panel,
// inserted through the executor and committed on the tick's cadence.
void stationRow(benchmark::State& state) {
    station::LivePanel panel;
    config::Settings settings;
    settings.setLines(config::SettingId::LogiPs, config::LineList(u"10.1.2.3\r\n*\r\n"_s));
    settings.setLines(config::SettingId::LogCamNombre, config::LineList(u"CAM-01\r\nALL\r\n"_s));
    station::RawLog logRS232;
    Quiet quiet;
    storage::StatementExecutor executor;
    executor.setDatabaseName(workDir().filePath(u"station.fdb"_s));
    base::SystemClock clock;
    DirectRows insert(panel, executor);
    records::RecordProcessor processor({panel, settings, quiet, logRS232, insert, quiet, quiet, clock});
    if (!executor.consultar(u"select count(*) from paquetes"_s)) { // connect outside the timing
        state.SkipWithError(qPrintable(executor.connectError()));
        return;
    }
    const QString entry = u"\x02"
                          "10.1.2.3\t\x02"
                          "H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                          u"GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5\tXYZ\t\n"_s;
    Cadence cadence;
    for (auto _ : state) {
        QString buffer = entry;
        processor.procesar_dato(buffer);
        cadence.tick([&] {
            if (executor.isActive())
                executor.commit();
        });
    }
    if (panel.text(Field::lProcesados) != QString::number(state.iterations()) ||
        !executor.ultimo_error().isEmpty())
        state.SkipWithError(qPrintable(u"rows refused: "_s + executor.ultimo_error()));
    executor.release();
    state.SetItemsProcessed(state.iterations());
}
// Commits write through to the disk, so single runs are noisy: the medians of a few are compared.
BENCHMARK(stationRow)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

using namespace Firebird;

struct Check {
    explicit Check(IMaster* master)
        : status(master->getStatus())
        , wrapper(status) {}
    ~Check() { status->dispose(); }
    IStatus* status;
    ThrowStatusWrapper wrapper;
};

void rawPrepared(benchmark::State& state) {
    const QString path = workDir().filePath(u"raw.fdb"_s);
    if (!QFile::exists(path))
        storage::createDatabase(path);
    IMaster* master = fb_get_master_interface();
    Check check(master);
    ThrowStatusWrapper* st = &check.wrapper;
    try {
        IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(st, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(st, isc_dpb_password, "mivoltakrune");
        dpb->insertString(st, isc_dpb_lc_ctype, "WIN1252");
        dpb->insertString(st, isc_dpb_config, "Providers=Engine12");
        IProvider* provider = master->getDispatcher();
        const QByteArray name = path.toLocal8Bit();
        IAttachment* attachment =
            provider->attachDatabase(st, name.constData(), dpb->getBufferLength(st), dpb->getBuffer(st));
        dpb->dispose();
        ITransaction* transaction = attachment->startTransaction(st, 0, nullptr);
        IStatement* statement = attachment->prepare(
            st, transaction, 0, base::codepage::narrow(storage::PaquetesInsert::of({}, false, false).sql), 3,
            IStatement::PREPARE_PREFETCH_METADATA);

        // The same values, as texts in the code page and doubles.
        const std::vector<QByteArray> texts{"P01", "CAM-01", "GUIA0001ZXWV0002TSRQ0003",     {}, {}, {},
                                            {},    {},       base::codepage::narrow(kStatus)};
        const double numbers[] = {0, 0, 0, 12.5, 30.0, 45.5, 4.5, 3.4125, 0};
        IMetadataBuilder* builder = master->getMetadataBuilder(st, 9);
        for (unsigned i = 0; i < 9; ++i) {
            if (i >= 3 && i <= 7) {
                builder->setType(st, i, SQL_DOUBLE + 1);
                builder->setLength(st, i, 8);
            } else {
                builder->setType(st, i, SQL_VARYING + 1);
                builder->setLength(st, i, 32);
                builder->setCharSet(st, i, 53);
            }
        }
        IMessageMetadata* meta = builder->getMetadata(st);
        builder->release();
        std::vector<unsigned char> buffer(meta->getMessageLength(st));

        Cadence cadence;
        for (auto _ : state) {
            for (unsigned i = 0; i < 9; ++i) {
                const short notNull = 0;
                std::memcpy(buffer.data() + meta->getNullOffset(st, i), &notNull, sizeof notNull);
                unsigned char* field = buffer.data() + meta->getOffset(st, i);
                if (i >= 3 && i <= 7) {
                    std::memcpy(field, &numbers[i], sizeof(double));
                } else {
                    const auto length = static_cast<unsigned short>(texts[i].size());
                    std::memcpy(field, &length, sizeof length);
                    std::memcpy(field + sizeof length, texts[i].constData(), length);
                }
            }
            if (!transaction)
                transaction = attachment->startTransaction(st, 0, nullptr);
            statement->execute(st, transaction, meta, buffer.data(), nullptr, nullptr);
            cadence.tick([&] {
                transaction->commit(st);
                transaction = nullptr;
            });
        }
        meta->release();
        statement->free(st);
        if (transaction)
            transaction->commit(st);
        attachment->detach(st);
        provider->release();
    } catch (const FbException& e) {
        char text[1024];
        master->getUtilInterface()->formatStatus(text, sizeof text, e.getStatus());
        state.SkipWithError(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(rawPrepared)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Keeps each benchmark's time per row, to print them side by side.
class RowReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median" && !run.error_occurred)
                perRow[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> perRow;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // The disk's flush times drift while the run goes on: interleave the repetitions of both so
    // that neither side gets the quiet minutes alone.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    RowReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto station = reporter.perRow.find("stationRow");
    const auto raw = reporter.perRow.find("rawPrepared");
    if (station != reporter.perRow.end() && raw != reporter.perRow.end()) {
        const auto [stationReal, stationCpu] = station->second;
        const auto [rawReal, rawCpu] = raw->second;
        std::printf("\nmedian per stored row, wall: station %.1f us, raw prepared %.1f us, ratio %.2f "
                    "(target <= 1.30)\n",
                    stationReal, rawReal, stationReal / rawReal);
        std::printf("median per stored row, CPU:  station %.1f us, raw prepared %.1f us, ratio %.2f\n",
                    stationCpu, rawCpu, stationCpu / rawCpu);
    }
    benchmark::Shutdown();
    return 0;
}
