#include "station/ProcessingTick.h"

#include "base/ErrorReport.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/TickTimer.h"

using namespace Qt::StringLiterals;

namespace station {

ProcessingTick::ProcessingTick(IntakeQueue& queue, LivePanel& panel, TickTimer& timer,
                               FrameHandler& processor, TransactionControl& transaction,
                               base::ErrorReport& errors, base::Stopwatch& uncommitted)
    : m_queue(queue)
    , m_panel(panel)
    , m_timer(timer)
    , m_processor(processor)
    , m_transaction(transaction)
    , m_errors(errors)
    , m_uncommittedFor(uncommitted) {}

void ProcessingTick::Timer1Timer() {
    std::optional<QueuedLine> line = take();
    if (!line) {
        commitWhenDue();
        // Lines left queued while rows cannot be kept are looked at again on the next tick.
        if (!m_uncommitted && m_queue.isEmpty())
            m_timer.idle();
        return;
    }
    m_budget->restart();
    qsizetype served = 0;
    do {
        serve(std::move(*line));
    } while (++served < kMostLinesPerTick && m_budget->elapsedMs() < kMostTimePerTick.count() &&
             (line = take()));
    m_timer.setEnabled(true);
    // The budget ran out with lines still waiting: the next tick comes once the thread has answered
    // what waits for it, not a whole period later.
    if (line && !m_queue.isEmpty())
        m_timer.hurry();
}

std::optional<QueuedLine> ProcessingTick::take() {
    // A line taken while rows cannot be kept would be lost; left queued, it survives in the
    // journal too.
    if (!m_transaction.acceptsRows())
        return std::nullopt;
    return m_queue.takeFront();
}

void ProcessingTick::serve(QueuedLine line) {
    m_timer.setEnabled(false);
    if (m_contadorTicks > 100)
        m_contadorTicks = 0;
    m_bufferTrama = std::move(line.text);
    m_lineId = line.id;
    // A failure loses this line, keeps the counter and leaves the commit to the next line.
    m_errors.guard([this] { work(); });
    m_queue.markDone(m_lineId);
    if (!m_transaction.isActive()) {
        m_uncommitted = false;
    } else if (!m_uncommitted) {
        m_uncommitted = true;
        m_uncommittedFor.restart();
    }
    commitWhenDue();
}

void ProcessingTick::work() {
    const qsizetype length = m_bufferTrama.size();
    m_panel.setStatus(1, u"L:"_s + QString::number(length));
    if (length >= kShortestProcessed) {
        m_panel.setStatus(2, m_bufferTrama);
        m_processor.procesar_dato(m_bufferTrama);
    }
    const qint32 c = m_contadorTicks;
    if ((c % 10 == 0 || c < 10) && m_transaction.isActive()) {
        m_uncommitted = false;
        m_transaction.commit();
    }
    m_contadorTicks = c + 1;
}

void ProcessingTick::commitWhenDue() {
    if (!m_uncommitted || m_uncommittedFor.elapsedMs() < kCommitWithin.count())
        return;
    if (!m_transaction.isActive()) {
        m_uncommitted = false;
        return;
    }
    // A commit the database refuses is reported once per attempt, not once per idle tick.
    m_uncommittedFor.restart();
    if (m_errors.guard([this] { m_transaction.commit(); }))
        m_uncommitted = false;
}

void ProcessingTick::drain() {
    const bool wasOn = m_timer.isEnabled();
    while (std::optional<QueuedLine> line = take())
        serve(std::move(*line));
    m_timer.setEnabled(wasOn);
}

} // namespace station
