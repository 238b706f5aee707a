// What the row outbox adds to one stored row: the core's append, the group commit's flush spread over
// the rows it carries, and the writer's read and confirm in the batches it sends. Set against
// bench_row_insert's cost per stored row, this is the outbox's share of it. Also what a start after a
// long outage spends checking the rows left waiting.

#include "storage/RowOutbox.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

QTemporaryDir& workDir() {
    static QTemporaryDir dir;
    return dir;
}

// A row as the record processor stores it for a typical line.
storage::PendingRow typicalRow(quint64 sequence) {
    return {u"%1%2"_s.arg(0x5eed0f1e5ull, 16, 16, QChar(u'0')).arg(sequence, 16, 16, QChar(u'0')),
            QDateTime::currentDateTime(),
            {u"P01"_s, u"CAM-01"_s, u"GUIA0001ZXWV0002TSRQ0003"_s, 12.5, 30.0, 45.5, 4.5, 3.4125,
             u"Con dim-Con peso-Con guía"_s}};
}

// A fresh file for every run, so that no run reads what another left.
class FreshOutbox {
public:
    explicit FreshOutbox(const char* name)
        : m_path(workDir().filePath(QString::fromLatin1(name))) {
        QFile::remove(m_path);
        m_outbox.emplace(m_path);
    }
    ~FreshOutbox() {
        m_outbox.reset();
        QFile::remove(m_path);
    }
    storage::RowOutbox& operator*() { return *m_outbox; }
    storage::RowOutbox* operator->() { return &*m_outbox; }

private:
    QString m_path;
    std::optional<storage::RowOutbox> m_outbox;
};

// The core's share: the row is encoded and written, nothing forced to the disk.
void append(benchmark::State& state) {
    FreshOutbox outbox("append");
    const storage::PendingRow row = typicalRow(1);
    for (auto _ : state)
        outbox->append(row);
    if (outbox->pendingCount() != state.iterations() || outbox->blocked())
        state.SkipWithError("rows went missing");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(append)->Unit(benchmark::kMicrosecond);

// With the group commit's flush every `range(0)` rows (200 rows a second at 100 ms: 20).
void appendAndSync(benchmark::State& state) {
    FreshOutbox outbox("append-sync");
    const storage::PendingRow row = typicalRow(1);
    const int every = static_cast<int>(state.range(0));
    int n = 0;
    for (auto _ : state) {
        outbox->append(row);
        if (++n % every == 0)
            outbox->sync();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(appendAndSync)->Arg(20)->Unit(benchmark::kMicrosecond);

// The writer's share when it catches up after an outage: a batch of `range(0)` rows read, decoded and
// confirmed from a backlog. The backlog is refilled outside the timing whenever it runs dry.
void readAndConfirm(benchmark::State& state) {
    FreshOutbox outbox("read-confirm");
    const qsizetype batch = state.range(0);
    constexpr int kRefill = 20000;
    quint64 sequence = 0;
    qint64 rows = 0;
    for (auto _ : state) {
        if (outbox->pendingCount() == 0) {
            state.PauseTiming();
            for (int i = 0; i < kRefill; ++i)
                outbox->append(typicalRow(++sequence));
            state.ResumeTiming();
        }
        const std::vector<storage::RowOutbox::Entry> entries =
            outbox->read(outbox->confirmedPosition(), batch);
        outbox->confirm(entries.back().end);
        rows += qint64(entries.size());
    }
    state.SetItemsProcessed(rows);
    state.counters["per_row"] =
        benchmark::Counter(double(rows), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(readAndConfirm)->Arg(20)->Arg(500)->Unit(benchmark::kMicrosecond);

// The whole way in the steady state: the rows of one commit appended, read back and confirmed, the
// file cut back after each confirm. The outbox's share of a stored row when the database keeps up.
void roundTrip(benchmark::State& state) {
    FreshOutbox outbox("round-trip");
    const int rows = static_cast<int>(state.range(0));
    const storage::PendingRow row = typicalRow(1);
    for (auto _ : state) {
        for (int i = 0; i < rows; ++i)
            outbox->append(row);
        const std::vector<storage::RowOutbox::Entry> entries =
            outbox->read(outbox->confirmedPosition(), rows);
        outbox->confirm(entries.back().end);
    }
    if (outbox->pendingCount() != 0)
        state.SkipWithError("rows left behind");
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["per_row"] = benchmark::Counter(double(state.iterations() * rows),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(roundTrip)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);

// A start after a long outage: every pending row is read and checked before the first is sent.
void reopen(benchmark::State& state) {
    const QString path = workDir().filePath(u"reopen"_s);
    QFile::remove(path);
    const qint64 rows = state.range(0);
    {
        storage::RowOutbox outbox(path);
        for (qint64 i = 0; i < rows; ++i)
            outbox.append(typicalRow(quint64(i)));
    }
    for (auto _ : state) {
        const storage::RowOutbox outbox(path);
        if (outbox.pendingCount() != rows)
            state.SkipWithError("rows went missing");
    }
    QFile::remove(path);
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["per_row"] = benchmark::Counter(double(state.iterations() * rows),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(reopen)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
