#include "app/GroupCommit.h"

#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "storage/RowOutbox.h"

namespace app {

GroupCommit::GroupCommit(storage::RowOutbox& outbox, station::IntakeJournal* journal,
                         station::IntakeQueue& queue)
    : m_outbox(outbox)
    , m_journal(journal)
    , m_queue(queue)
    , m_thread([this] { run(); }) {}

GroupCommit::~GroupCommit() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stop.notify_one();
    m_thread.join();
    round();
}

void GroupCommit::run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop.wait_for(lock, kEvery, [this] { return m_stopping; })) {
        lock.unlock();
        round();
        lock.lock();
    }
}

void GroupCommit::round() {
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
        return;
    }
    if (!m_journal)
        return;
    m_journal->writeDoneMarks(marks);
    if (m_journal->blocked())
        m_queue.retryJournal();
}

} // namespace app
