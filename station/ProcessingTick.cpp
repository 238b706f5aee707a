#include "station/ProcessingTick.h"

#include "base/ErrorReport.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/TickTimer.h"

using namespace Qt::StringLiterals;

namespace station {

ProcessingTick::ProcessingTick(IntakeQueue& queue, LivePanel& panel, TickTimer& timer,
                               FrameHandler& processor, TransactionControl& transaction,
                               base::ErrorReport& errors, const base::SteadyClock& steady)
    : m_queue(queue)
    , m_panel(panel)
    , m_timer(timer)
    , m_processor(processor)
    , m_transaction(transaction)
    , m_errors(errors)
    , m_steady(steady) {}

void ProcessingTick::Timer1Timer() {
    if (m_queue.isEmpty()) {
        commitWhenDue();
        return;
    }
    m_timer.setEnabled(false);
    if (m_contadorTicks > 100)
        m_contadorTicks = 0;
    // Only the tick removes items, so the item is still there.
    m_bufferTrama = *m_queue.takeFront();
    // A failure loses this line, keeps the counter and leaves the commit to the next working tick.
    m_errors.guard([this] { work(); });
    if (!m_transaction.isActive())
        m_uncommittedSince.reset();
    else if (!m_uncommittedSince)
        m_uncommittedSince = m_steady.now();
    commitWhenDue();
    m_timer.setEnabled(true);
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
        m_uncommittedSince.reset();
        m_transaction.commit();
    }
    m_contadorTicks = c + 1;
}

void ProcessingTick::commitWhenDue() {
    if (!m_uncommittedSince || m_steady.now() - *m_uncommittedSince < kCommitWithin)
        return;
    if (!m_transaction.isActive()) {
        m_uncommittedSince.reset();
        return;
    }
    // A commit the database refuses is reported once per attempt, not once per idle tick.
    m_uncommittedSince = m_steady.now();
    if (m_errors.guard([this] { m_transaction.commit(); }))
        m_uncommittedSince.reset();
}

void ProcessingTick::drain() {
    const bool wasOn = m_timer.isEnabled();
    while (!m_queue.isEmpty())
        Timer1Timer();
    m_timer.setEnabled(wasOn);
}

} // namespace station
