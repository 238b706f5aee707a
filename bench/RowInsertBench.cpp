// What one stored row costs the station (the queued entry parsed by the record processor, its row
// inserted through the executor and committed on the processing tick's cadence) against the raw client doing
// the same inserts with one prepared statement and the same commits. Then what the same row costs the
// way the station stores it now: journaled, queued, taken by the tick, kept in the row outbox and
// stored by the writer's thread. All run on the embedded engine in one run; the ratios are printed.

#include "app/GroupCommit.h"
#include "base/Clock.h"
#include "base/CodePage.h"
#include "base/ErrorReport.h"
#include "base/LineId.h"
#include "base/Stopwatch.h"
#include "config/Settings.h"
#include "records/PackageRowInsert.h"
#include "records/RecordProcessor.h"
#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/ProcessingTick.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"
#include "storage/FileStamp.h"
#include "storage/PaquetesInsert.h"
#include "storage/PaquetesTable.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"
#include "storage/StatementExecutor.h"
#include "storage/WriterTransaction.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <firebird/Interface.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using station::Field;

namespace {

const QString kStatus = u"Con dim-Con peso-Con guía"_s;

// A queued entry as the network intake builds it.
const QString kEntry = u"\x02"
                       "10.1.2.3\t\x02"
                       "H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                       u"GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5\tXYZ\t\n"_s;

// The store-and-forward and the raw client at its rows per commit are compared: on a machine whose
// speed drifts from second to second their single runs vary by a fifth (the raw client alone from
// 17 to 31 us a row in one run), so each gets more runs to take the median of.
constexpr int kPairedRepetitions = 15;

// Longest wait for the writer to confirm a run's rows; far beyond what a run takes.
constexpr std::chrono::seconds kWriterWait{60};

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
        row.values = records::PackageRowInsert::values(m_panel, estatus);
        const storage::PaquetesInsert insert = storage::PaquetesInsert::of(row, false, false);
        m_executor.consultar(insert.sql, insert.values);
    }
    double tiempoPromedio() const override { return m_executor.tiempo_promedio(); }

private:
    station::LivePanel& m_panel;
    storage::StatementExecutor& m_executor;
};

// The queued entry parsed by the record processor onto the panel,
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
    Cadence cadence;
    for (auto _ : state) {
        QString buffer = kEntry;
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

// The way a row goes in the station: the line journaled and queued, taken by the tick, its row
// appended to the outbox and stored by the writer's thread, the journals forced by the group
// commit. Fresh journals for every run; one database for all of them, as stationRow has.
class StoreAndForward final {
public:
    StoreAndForward()
        : m_journal(fresh(u"lecturas.diario"_s))
        , m_outbox(std::make_shared<storage::RowOutbox>(fresh(u"filas.diario"_s)))
        , m_writer(m_outbox)
        , m_groupCommit(*m_outbox, &m_journal, m_queue)
        , m_transaction(m_writer, *m_outbox)
        , m_rows(
              m_panel, *m_outbox, m_writer, [this] { return m_tick.lineId(); }, m_contador, m_clock)
        , m_processor({m_panel, m_settings, m_quiet, m_logRS232, m_rows, m_quiet, m_quiet, m_clock})
        , m_tick(m_queue, m_panel, m_quiet, m_processor, m_transaction, m_errors, m_uncommittedFor) {
        m_settings.setLines(config::SettingId::LogiPs, config::LineList(u"10.1.2.3\r\n*\r\n"_s));
        m_settings.setLines(config::SettingId::LogCamNombre, config::LineList(u"CAM-01\r\nALL\r\n"_s));
        m_journal.recover();
        m_queue.setJournal(&m_journal);
        QObject::connect(&m_errors, &base::ErrorReport::reported, &m_errors,
                         [this](const QString& message) { noteProblem(message); });
        // On the writer's thread: the wait below must not need an event loop.
        QObject::connect(
            &m_writer, &storage::RowWriter::rowsStored, &m_writer,
            [this](qint64 stored, qint64 alreadyThere) {
                {
                    // A row the database already had would be a row sent twice.
                    const std::lock_guard lock(m_mutex);
                    m_stored += stored - alreadyThere;
                    m_told += stored;
                    ++m_commits;
                }
                m_confirmed.notify_all();
            },
            Qt::DirectConnection);
        QObject::connect(
            &m_writer, &storage::RowWriter::rowRefused, &m_writer,
            [this](const storage::PendingRow&, const QString&, const QString& error) {
                {
                    const std::lock_guard lock(m_mutex);
                    ++m_told;
                }
                noteProblem(error);
            },
            Qt::DirectConnection);
        QObject::connect(
            &m_writer, &storage::RowWriter::connectionLost, &m_writer,
            [this](const QString& error) { noteProblem(error); }, Qt::DirectConnection);
        QObject::connect(
            &m_writer, &storage::RowWriter::outboxFailed, &m_writer,
            [this](const QString& error) { noteProblem(error); }, Qt::DirectConnection);
        m_writer.setDatabaseName(workDir().filePath(u"store-forward.fdb"_s));
        m_writer.start();
    }
    Q_DISABLE_COPY_MOVE(StoreAndForward)

    void append(const QString& line) {
        m_queue.append(line);
        ++m_appended;
    }
    void tick() { m_tick.Timer1Timer(); }

    // What an idle tick does once the last rows have waited long enough, then the wait for the
    // writer to confirm every row, and to tell of each (it confirms in the outbox first). False when
    // it did not within `limit`.
    bool finish(std::chrono::seconds limit) {
        m_writer.requestCommit();
        const auto by = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(m_mutex);
        while (m_outbox->pendingCount() > 0 || m_told < m_appended) {
            if (std::chrono::steady_clock::now() >= by)
                return false;
            // A commit that carried only refused rows is told by no signal: the count is looked at
            // again now and then.
            m_confirmed.wait_for(lock, 10ms);
        }
        return true;
    }

    qint64 stored() const {
        const std::lock_guard lock(m_mutex);
        return m_stored;
    }
    qint64 commits() const {
        const std::lock_guard lock(m_mutex);
        return m_commits;
    }
    // Refusals, lost connections, failed outbox reads and failures of the tick; empty when none.
    QString problem() const {
        const std::lock_guard lock(m_mutex);
        return m_problem;
    }
    const station::LivePanel& panel() const { return m_panel; }

private:
    static QString fresh(const QString& name) {
        const QString path = workDir().filePath(name);
        QFile::remove(path);
        return path;
    }
    void noteProblem(const QString& message) {
        const std::lock_guard lock(m_mutex);
        if (m_problem.isEmpty())
            m_problem = message;
    }

    station::LivePanel m_panel;
    config::Settings m_settings;
    station::RawLog m_logRS232;
    Quiet m_quiet;
    base::SystemClock m_clock;
    base::ErrorReport m_errors;
    base::SteadyStopwatch m_uncommittedFor;
    storage::FileCounter m_contador;
    station::IntakeJournal m_journal;
    station::IntakeQueue m_queue;
    std::shared_ptr<storage::RowOutbox> m_outbox;
    storage::RowWriter m_writer;
    app::GroupCommit m_groupCommit;
    storage::WriterTransaction m_transaction;
    records::PackageRowInsert m_rows;
    records::RecordProcessor m_processor;
    station::ProcessingTick m_tick;

    mutable std::mutex m_mutex;
    std::condition_variable m_confirmed;
    qint64 m_appended = 0;
    qint64 m_told = 0;   // stored, already there or refused
    qint64 m_stored = 0; // as new rows
    qint64 m_commits = 0;
    QString m_problem;
};

// The same queued entry as stationRow, the whole way through the outbox and the writer's thread.
// The last iteration also waits for the writer to confirm every row, so the database's work is in
// the time: wall time per row is the cost of a stored row. The CPU time is this thread's alone.
void stationRowStoreAndForward(benchmark::State& state) {
    StoreAndForward station;
    // The writer connects, and the first row finds its way, outside the timing.
    station.append(kEntry);
    station.tick();
    if (!station.finish(kWriterWait)) {
        state.SkipWithError(qPrintable(u"the first row was not stored: "_s + station.problem()));
        return;
    }
    benchmark::IterationCount served = 0;
    for (auto _ : state) {
        station.append(kEntry);
        station.tick();
        if (++served == state.max_iterations && !station.finish(kWriterWait))
            state.SkipWithError(qPrintable(u"rows left in the outbox: "_s + station.problem()));
    }
    const qint64 rows = state.iterations() + 1;
    if (state.error_occurred())
        return;
    if (station.panel().text(Field::lProcesados) != QString::number(rows) || station.stored() != rows ||
        !station.problem().isEmpty())
        state.SkipWithError(
            qPrintable(u"%1 of %2 rows stored: %3"_s.arg(station.stored()).arg(rows).arg(station.problem())));
    state.SetItemsProcessed(state.iterations());
    // The tick asks for a commit about every fifth row, as stationRow commits; a writer that has
    // fallen behind the tick commits what it sent, up to RowWriter::kBacklogBatch rows at a time.
    state.counters["rows_per_commit"] = double(rows) / double(std::max<qint64>(station.commits(), 1));
}
BENCHMARK(stationRowStoreAndForward)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0)
    ->Repetitions(kPairedRepetitions)
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

// The raw client: one prepared statement, the values bound by hand. `rowsPerCommit` 0 commits on
// the tick's cadence (about every fifth row); otherwise every that many rows. `withIdentity` binds
// each row's reading identity too, shaped as the station's (a run drawn at random, then a count),
// as the store-and-forward's rows carry it: its unique index is the database's work on the same rows.
void rawRows(benchmark::State& state, double rowsPerCommit, bool withIdentity) {
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
            st, transaction, 0,
            base::codepage::narrow(storage::PaquetesInsert::of({}, false, withIdentity).sql), 3,
            IStatement::PREPARE_PREFETCH_METADATA);

        // The same values, as texts in the code page and doubles; the identity last.
        std::vector<QByteArray> texts{"P01", "CAM-01", "GUIA0001ZXWV0002TSRQ0003",      {}, {}, {},
                                      {},    {},       base::codepage::narrow(kStatus), {}};
        const double numbers[] = {0, 0, 0, 12.5, 30.0, 45.5, 4.5, 3.4125, 0, 0};
        const unsigned count = withIdentity ? 10 : 9;
        base::LineId identity{QRandomGenerator::global()->generate64(), 0};
        IMetadataBuilder* builder = master->getMetadataBuilder(st, count);
        for (unsigned i = 0; i < count; ++i) {
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
        double owed = 0; // rows since the last commit, against rowsPerCommit
        for (auto _ : state) {
            if (withIdentity) {
                ++identity.sequence;
                texts[9] = identity.text().toLatin1();
            }
            for (unsigned i = 0; i < count; ++i) {
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
            const auto commit = [&] {
                transaction->commit(st);
                transaction = nullptr;
            };
            if (rowsPerCommit <= 0) {
                cadence.tick(commit);
            } else if (++owed >= rowsPerCommit) {
                owed -= rowsPerCommit;
                commit();
            }
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

void rawPrepared(benchmark::State& state) {
    rawRows(state, 0, false);
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
            if (run.aggregate_name != "median" || run.error_occurred)
                continue;
            perRow[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            if (const auto it = run.counters.find("rows_per_commit"); it != run.counters.end())
                rowsPerCommit = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> perRow;
    double rowsPerCommit = 0; // the store-and-forward writer's, median
};

} // namespace

int main(int argc, char** argv) {
    // As the station's own start does.
    base::pinLocalTimeZone();
    QCoreApplication application(argc, argv);
    // The disk's flush times drift while the run goes on: interleave the repetitions of both so
    // that neither side gets the quiet minutes alone.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    // The raw client committing as often as the store-and-forward's writer does while it works off
    // a backlog, and storing the same rows, identity included: the two then differ only in what the
    // station does around the same database work. Interleaved with the rest, so that both see the
    // same disk.
    const auto registerSameRows = [](double rowsPerCommit) {
        benchmark::RegisterBenchmark(
            "rawPreparedSameRowsPerCommit",
            [rowsPerCommit](benchmark::State& state) { rawRows(state, rowsPerCommit, true); })
            ->Unit(benchmark::kMicrosecond)
            ->MinTime(1.0)
            ->Repetitions(kPairedRepetitions)
            ->ReportAggregatesOnly(true);
    };
    registerSameRows(double(storage::RowWriter::kBacklogBatch));
    RowReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // A writer that kept up commits more often than that: the raw client again, on its own, at the
    // writer's measured rows per commit.
    if (const double measured = reporter.rowsPerCommit;
        measured > 0 && std::abs(measured / double(storage::RowWriter::kBacklogBatch) - 1) > 0.1) {
        benchmark::ClearRegisteredBenchmarks();
        registerSameRows(measured);
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    const auto station = reporter.perRow.find("stationRow");
    const auto raw = reporter.perRow.find("rawPrepared");
    const auto forward = reporter.perRow.find("stationRowStoreAndForward");
    const auto end = reporter.perRow.end();
    if (station != end && raw != end) {
        const auto [stationReal, stationCpu] = station->second;
        const auto [rawReal, rawCpu] = raw->second;
        std::printf("\nmedian per stored row, wall: station %.1f us, raw prepared %.1f us, ratio %.2f "
                    "(target <= 1.30)\n",
                    stationReal, rawReal, stationReal / rawReal);
        std::printf("median per stored row, CPU:  station %.1f us, raw prepared %.1f us, ratio %.2f\n",
                    stationCpu, rawCpu, stationCpu / rawCpu);
    }
    if (forward != end && station != end) {
        const auto [forwardReal, forwardCpu] = forward->second;
        const auto [stationReal, stationCpu] = station->second;
        std::printf("\nmedian per stored row, wall: store-and-forward %.1f us, station %.1f us, ratio %.2f "
                    "(target <= 1.30)\n",
                    forwardReal, stationReal, forwardReal / stationReal);
        std::printf("median per stored row, CPU:  store-and-forward %.1f us, station %.1f us, ratio %.2f\n"
                    "(the CPU time is the tick's thread alone, not the writer's nor the group commit's: "
                    "the wall ratio is the one that counts)\n",
                    forwardCpu, stationCpu, forwardCpu / stationCpu);
        std::printf("store-and-forward: the writer committed every %.1f rows (station: about every 5)\n",
                    reporter.rowsPerCommit);
    }
    if (const auto same = reporter.perRow.find("rawPreparedSameRowsPerCommit"); forward != end && same != end)
        std::printf(
            "\nsame rows per commit: store-and-forward %.1f us, raw %.1f us, ratio %.2f (target <= 1.30)\n",
            forward->second.first, same->second.first, forward->second.first / same->second.first);
    benchmark::Shutdown();
    return 0;
}
