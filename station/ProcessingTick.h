#pragma once

#include "base/LineId.h"
#include "base/Stopwatch.h"

#include <QString>

#include <chrono>
#include <optional>

namespace base {
class ErrorReport;
}
namespace station {

class IntakeQueue;
class LivePanel;
struct QueuedLine;
class TickTimer;

// What the tick hands each line to: `procesar_dato`, consuming frames from `buffer_trama`.
class FrameHandler {
public:
    virtual ~FrameHandler() = default;
    virtual void procesar_dato(QString& buffer_trama) = 0;
};

// The database's default transaction `TR`, as far as the tick sees it.
class TransactionControl {
public:
    virtual ~TransactionControl() = default;
    virtual bool isActive() const = 0;
    virtual void commit() = 0;
    // False while rows cannot be kept (the disk under the row outbox is full): the tick then
    // leaves the lines in `L1`, and the intake pushes back once the queue is full.
    virtual bool acceptsRows() const { return true; }
};

// `Timer1Timer`: takes the next line from `L1`, shows it on the status bar, hands it to the record
// processor and commits the open transaction on a fixed cadence that counts lines. A line that
// arrives alone is worked alone, on the next tick; a backlog is worked off several lines a tick, in
// the queue's order, each as a record of its own, until the tick has spent `kMostTimePerTick` or
// worked `kMostLinesPerTick`, so that the core's thread still answers commands, scrapes and the
// window between two ticks; the next tick then follows as soon as they are answered. Rows never wait for the
// next parcel to become durable: a transaction that a processed line left open is committed once it has been
// open for `kCommitWithin`, by an idle tick as well. Every line taken is marked done once worked, also when
// its work failed: a failing line is not worked again. With nothing queued and nothing to commit the tick
// lets its timer sleep until a line arrives.
class ProcessingTick final {
public:
    // Longest item that is dropped without processing.
    static constexpr qsizetype kShortestProcessed = 23;
    // How long the rows of a processed line may stay uncommitted; a failed commit is tried again
    // after as long.
    static constexpr std::chrono::milliseconds kCommitWithin{500};
    // A tick's budget while a backlog waits.
    static constexpr qsizetype kMostLinesPerTick = 400;
    static constexpr std::chrono::milliseconds kMostTimePerTick{4};

    ProcessingTick(IntakeQueue& queue, LivePanel& panel, TickTimer& timer, FrameHandler& processor,
                   TransactionControl& transaction, base::ErrorReport& errors, base::Stopwatch& uncommitted);

    void Timer1Timer();
    // What measures a tick's time budget (tests put one of their own in its place).
    void setBudgetStopwatch(base::Stopwatch& stopwatch) { m_budget = &stopwatch; }

    // Works off every queued line at once, without the timer's pacing (the close of the station).
    void drain();

    int contadorTicks() const { return m_contadorTicks; }
    QString& bufferTrama() { return m_bufferTrama; }
    // The line being worked (or worked last): the row made of it carries this identity.
    base::LineId lineId() const { return m_lineId; }

private:
    // The next line in turn; none when the queue is empty or rows cannot be kept.
    std::optional<QueuedLine> take();
    void serve(QueuedLine line);
    void work();
    // Commits a transaction a processed line left open once it has waited `kCommitWithin`.
    void commitWhenDue();

    IntakeQueue& m_queue;
    LivePanel& m_panel;
    TickTimer& m_timer;
    FrameHandler& m_processor;
    TransactionControl& m_transaction;
    base::ErrorReport& m_errors;
    base::Stopwatch& m_uncommittedFor;
    base::SteadyStopwatch m_ownBudget;
    base::Stopwatch* m_budget = &m_ownBudget;

    QString m_bufferTrama;
    base::LineId m_lineId;
    // Whether the transaction holds rows of a processed line without a commit; since when is
    // what `m_uncommittedFor` measures.
    bool m_uncommitted = false;
    qint32 m_contadorTicks = 0;
};

} // namespace station
