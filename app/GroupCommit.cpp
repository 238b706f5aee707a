#include "app/GroupCommit.h"

#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "storage/RowOutbox.h"

namespace app {

GroupCommit::GroupCommit(storage::RowOutbox& outbox, station::IntakeJournal* journal,
                         station::IntakeQueue& queue)
    : m_outbox(outbox)
    , m_journal(journal)
    , m_queue(queue) {
    m_outbox.setWriteObserver([this] { nudge(); });
    if (m_journal)
        m_journal->setWriteObserver([this] { nudge(); });
    // What an earlier run left may still have to be forced.
    m_pending = true;
    m_thread = std::thread([this] { run(); });
}

GroupCommit::~GroupCommit() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
    // The writer's thread may still confirm rows.
    m_outbox.setWriteObserver({});
    if (m_journal)
        m_journal->setWriteObserver({});
    round();
}

void GroupCommit::nudge() {
    // Under load the flag is set already: no lock, no wake-up.
    if (m_pending.exchange(true))
        return;
    const std::lock_guard lock(m_mutex);
    m_wake.notify_one();
}

void GroupCommit::run() {
    auto lastRound = std::chrono::steady_clock::now() - kEvery;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (!m_pending) {
            m_wake.wait(lock, [this] { return m_stopping || m_pending; });
            continue;
        }
        // What is written until then goes to the disk with it.
        if (m_wake.wait_until(lock, lastRound + kEvery, [this] { return m_stopping; }))
            break;
        m_pending = false;
        lock.unlock();
        lastRound = std::chrono::steady_clock::now();
        const bool settled = round();
        lock.lock();
        // A refused write or sync is tried again at the next round.
        if (!settled)
            m_pending = true;
    }
}

bool GroupCommit::round() {
    // Marks taken before the rows are forced belong to rows already written.
    std::vector<base::LineId> marks;
    if (m_journal)
        marks = m_journal->takeDoneMarks();
    if (m_outbox.blocked())
        m_outbox.retry();
    try {
        m_outbox.sync();
    } catch (const std::exception&) {
        // A disk that cannot sync now is tried again at the next round. The marks wait with it:
        // a line must not be done on the disk while its row may not be.
        for (const base::LineId& id : marks)
            m_journal->markDone(id);
        return false;
    }
    if (!m_journal)
        return !m_outbox.blocked();
    m_journal->writeDoneMarks(marks);
    if (m_journal->blocked())
        m_queue.retryJournal();
    return !m_outbox.blocked() && !m_journal->blocked();
}

} // namespace app
