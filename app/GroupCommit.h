#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace station {
class IntakeJournal;
class IntakeQueue;
} // namespace station
namespace storage {
class RowOutbox;
}

namespace app {

// Forces the journals to the disk together, at most `kEvery` apart, on a thread of its own so that
// no fdatasync ever holds up the tick: a power cut loses at most the last `kEvery` of lines read and
// rows stored. Rows go first and the intake's done marks after them, so that a line is never marked
// done on the disk while its row is not there. It also retries a journal that a full disk refused.
// While nothing is written it sleeps: the journals wake it, and what they write within `kEvery`
// goes to the disk in one round.
class GroupCommit final {
public:
    static constexpr std::chrono::milliseconds kEvery{100};

    // Without an intake journal (it could not be opened) only the rows are forced.
    GroupCommit(storage::RowOutbox& outbox, station::IntakeJournal* journal, station::IntakeQueue& queue);
    ~GroupCommit(); // stops and runs one last round
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    // One round, on the caller's thread (the close, tests). True when everything taken was forced
    // and neither journal waits for a retry.
    bool round();

    // Something was written: a round follows within `kEvery` (any thread).
    void nudge();

private:
    void run();

    storage::RowOutbox& m_outbox;
    station::IntakeJournal* m_journal;
    station::IntakeQueue& m_queue;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::atomic<bool> m_pending = false; // written since the last round began
    std::thread m_thread;
};

} // namespace app
