#include "storage/RowWriter.h"

#include "base/Error.h"
#include "storage/DatabaseName.h"
#include "storage/PaquetesInsert.h"
#include "storage/RowOutbox.h"
#include "storage/StatementExecutor.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <thread>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Rows read from the outbox at a time.
constexpr qsizetype kReadBatch = 64;
// Rows that go in one statement while a backlog waits; a row that comes alone goes alone.
constexpr std::size_t kRowsTogether = 16;
// While rows keep coming, the writer takes them at most this often: a wake-up for every row or
// two costs both threads more than the row's insert. A row that comes alone goes at once.
constexpr std::chrono::milliseconds kGather{1};

// The unique index that tells a row the database already has.
constexpr QStringView kIdentityIndex = u"PAQUETES_LECTURA";

} // namespace

// What the core and the writer's thread share. The thread holds it to its end, so a thread still
// stuck in the database after the close finds it intact; it tells the writer object only while
// that is alive.
struct RowWriter::Shared {
    explicit Shared(std::shared_ptr<RowOutbox> box)
        : outbox(std::move(box)) {}

    const std::shared_ptr<RowOutbox> outbox;

    std::mutex mutex;
    std::condition_variable changed;
    std::condition_variable ended;
    RowWriter* owner = nullptr;
    QString databaseName;
    bool nameChanged = false;
    std::optional<DatabaseLogin> newLogin;
    bool woken = false;
    bool asleep = false; // waiting for a row, a commit or the time of one: a wake must notify
    bool stopping = false;
    bool finished = false;
    SteadyClock::time_point stopBy;
    qint64 commitUpTo = -1;
    std::chrono::milliseconds retryDelay = kRetryDelay;

    std::atomic<double> average{0.0};
    std::atomic<bool> connected{false};

    // Makes `change` and marks the writer woken; its thread is notified only while it sleeps: at
    // work, or letting rows gather, it looks at the change on its next round anyway.
    template <typename Change> void wake(Change&& change) {
        bool sleeping = false;
        {
            const std::lock_guard lock(mutex);
            change();
            woken = true;
            sleeping = asleep;
        }
        if (sleeping)
            changed.notify_one();
    }

    template <typename Tell> void tell(Tell&& tell) {
        const std::lock_guard lock(mutex);
        if (owner)
            tell(*owner);
    }
};

// The writer's thread: one connection, the rows in outbox order.
class RowWriter::Loop {
public:
    // `foundAtStart`: where the rows an earlier run left in the outbox end; they are late.
    Loop(std::shared_ptr<Shared> shared, qint64 foundAtStart)
        : m_shared(std::move(shared))
        , m_outbox(*m_shared->outbox)
        , m_sent(m_outbox.confirmedPosition())
        , m_resendUntil(foundAtStart) {}

    void run();

private:
    struct Flags {
        QString newName;
        bool nameChanged = false;
        std::optional<DatabaseLogin> newLogin;
        bool stopping = false;
        SteadyClock::time_point stopBy;
        qint64 commitUpTo = -1;
    };

    Flags waitForWork();
    // One round of work; false when the thread is to end.
    bool step(const Flags& flags);
    std::chrono::milliseconds retryDelay() const;
    bool uncommitted() const { return m_sent > m_outbox.confirmedPosition(); }
    bool commitDue(const Flags& flags) const;
    bool connect();
    // False when the connection went.
    bool send(const RowOutbox::Entry& entry);
    // `kRowsTogether` rows in one statement; false when the connection went. When the statement is
    // refused, each row goes again on its own and is told as send() tells it.
    bool sendTogether(std::span<const RowOutbox::Entry> entries);
    // Whether the database stored the insert's rows; nothing when it went away or cannot write,
    // and the rows wait for it.
    std::optional<bool> execute(const PaquetesInsert& insert);
    // Whether the first `kRowsTogether` of `entries` may go together: there are as many, and none
    // goes late (rows go late up to a position, so the first one tells).
    bool fillsABlock(std::span<const RowOutbox::Entry> entries) const;
    void noteSent(qint64 end);
    void commit();
    void goDown(const QString& reason);

    std::shared_ptr<Shared> m_shared;
    RowOutbox& m_outbox;
    StatementExecutor m_executor;
    qint64 m_sent;        // where the next row to send begins
    qint64 m_resendUntil; // rows up to here waited for the database: they go late
    qint64 m_stored = 0;  // since the last commit
    qint64 m_alreadyThere = 0;
    SteadyClock::time_point m_firstUncommitted;
    SteadyClock::time_point m_gatherUntil; // rows that come until then wait for the next round
    std::set<qint64> m_refusedTold;        // refused rows not yet confirmed, told once
    bool m_down = false;
    QString m_downReason;
    SteadyClock::time_point m_retryAt;
    bool m_identityTold = false;
    // Whether a backlog goes in blocks on this connection. Only a server's round trips make them
    // pay: on the embedded engine a block costs more than its rows' single inserts. Off also for a
    // server that refused a block for no row's sake (it knows no such statement).
    bool m_rowsTogether = false;
};

RowWriter::Loop::Flags RowWriter::Loop::waitForWork() {
    std::unique_lock lock(m_shared->mutex);
    const auto urgent = [&] {
        return m_shared->stopping || m_shared->nameChanged || m_shared->newLogin.has_value();
    };
    // Rows come and commits are asked meanwhile without a wake-up; nothing else waits.
    m_shared->changed.wait_until(lock, m_gatherUntil, urgent);
    const auto ready = [&] {
        if (m_shared->woken || urgent())
            return true;
        const auto now = SteadyClock::now();
        if (m_down)
            return now >= m_retryAt;
        return m_outbox.endPosition() > m_sent ||
               (uncommitted() && now >= m_firstUncommitted + kCommitWithin);
    };
    for (;;) {
        // Rows the outbox kept while its disk was full reach the file without a wake-up: looked
        // for once a second until then. Asked before the outbox's end is: a row appended after
        // this wakes us, as the append's wake waits for our lock. Otherwise only a due retry or
        // commit, or a wake, ends the wait: an idle writer sleeps.
        const bool outboxBlocked = m_outbox.blocked();
        if (ready())
            break;
        m_shared->asleep = true;
        if (m_down)
            m_shared->changed.wait_until(lock, m_retryAt);
        else if (uncommitted())
            m_shared->changed.wait_until(lock, m_firstUncommitted + kCommitWithin);
        else if (outboxBlocked)
            m_shared->changed.wait_for(lock, std::chrono::seconds(1));
        else
            m_shared->changed.wait(lock);
    }
    m_shared->asleep = false;
    m_shared->woken = false;
    Flags flags;
    flags.nameChanged = std::exchange(m_shared->nameChanged, false);
    flags.newName = m_shared->databaseName;
    flags.newLogin = std::exchange(m_shared->newLogin, std::nullopt);
    flags.stopping = m_shared->stopping;
    flags.stopBy = m_shared->stopBy;
    flags.commitUpTo = m_shared->commitUpTo;
    return flags;
}

bool RowWriter::Loop::commitDue(const Flags& flags) const {
    if (!uncommitted())
        return false;
    // At the close, rows are committed once all are sent (step), not one by one.
    return (!flags.stopping && flags.commitUpTo > m_outbox.confirmedPosition() &&
            m_sent >= flags.commitUpTo) ||
           m_stored + m_alreadyThere >= kBacklogBatch ||
           SteadyClock::now() >= m_firstUncommitted + kCommitWithin;
}

void RowWriter::Loop::run() {
    for (;;) {
        const Flags flags = waitForWork();
        const qint64 sentBefore = m_sent;
        try {
            if (!step(flags))
                break;
            // Caught up with rows that keep coming: those behind them are let gather a moment.
            if (m_sent != sentBefore && m_sent >= m_outbox.endPosition())
                m_gatherUntil = SteadyClock::now() + kGather;
        } catch (const std::exception& e) {
            // The outbox's own file failed: its rows stay where they are, and are tried again.
            const QString reason = base::messageOf(e);
            m_shared->tell([&](RowWriter& w) { Q_EMIT w.outboxFailed(reason); });
            if (flags.stopping)
                break;
            m_down = true;
            m_retryAt = SteadyClock::now() + retryDelay();
        }
    }
    m_executor.release();
    m_shared->connected = false;
}

bool RowWriter::Loop::step(const Flags& flags) {
    if (flags.nameChanged || flags.newLogin) {
        // What the old database holds is committed there first; whatever that commit's outcome, an
        // unconfirmed row goes again to the new one.
        if (uncommitted() && !m_down)
            commit();
        if (flags.newLogin)
            m_executor.setLogin(*flags.newLogin);
        m_executor.reconnect(flags.newName);
        m_shared->connected = false;
        m_down = false;
    }
    if (flags.stopping) {
        const bool done = m_outbox.endPosition() <= m_sent;
        if (m_down || done || SteadyClock::now() >= flags.stopBy) {
            if (!m_down && uncommitted())
                commit();
            return false;
        }
    }
    if (m_down && SteadyClock::now() < m_retryAt && !flags.stopping)
        return true;
    if (m_outbox.endPosition() > m_sent && connect()) {
        const std::vector<RowOutbox::Entry> entries = m_outbox.read(m_sent, kReadBatch);
        for (std::span<const RowOutbox::Entry> rest(entries); !rest.empty();) {
            const bool together = fillsABlock(rest);
            if (together ? !sendTogether(rest.first(kRowsTogether)) : !send(rest.front()))
                break;
            rest = rest.subspan(together ? kRowsTogether : 1);
            if (commitDue(flags))
                commit();
            if (m_down)
                break;
        }
    }
    if (!m_down && commitDue(flags))
        commit();
    return true;
}

std::chrono::milliseconds RowWriter::Loop::retryDelay() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->retryDelay;
}

bool RowWriter::Loop::connect() {
    if (m_executor.isOpen())
        return true;
    if (!m_executor.Abrir_BD()) {
        goDown(m_executor.connectError());
        return false;
    }
    m_rowsTogether = !isLocalDatabase(m_executor.databaseName());
    if (QString created = m_executor.takeCreatedDatabase(); !created.isEmpty())
        m_shared->tell([&](RowWriter& w) { Q_EMIT w.databaseCreated(created); });
    // Rows that came while the database was away are late, however soon they go now.
    if (m_down)
        m_resendUntil = std::max(m_resendUntil, m_outbox.endPosition());
    if (!m_executor.identityRefused().isEmpty() && !m_identityTold) {
        m_identityTold = true;
        const QString why = m_executor.identityRefused();
        m_shared->tell([&](RowWriter& w) { Q_EMIT w.identityUnavailable(why); });
    }
    return true;
}

bool RowWriter::Loop::send(const RowOutbox::Entry& entry) {
    const PendingRow& row = entry.row;
    const bool late = entry.end <= m_resendUntil;
    const bool withIdentity = m_executor.identityRefused().isEmpty();
    const PaquetesInsert insert = PaquetesInsert::of(row, late, withIdentity);
    const std::optional<bool> stored = execute(insert);
    if (!stored)
        return false;
    noteSent(entry.end);
    if (*stored) {
        ++m_stored;
    } else if (withIdentity && m_executor.ultimo_error().contains(kIdentityIndex, Qt::CaseInsensitive)) {
        ++m_alreadyThere;
    } else if (m_refusedTold.insert(entry.end).second) {
        const QString statement = statementWithValues(insert.sql, insert.values);
        const QString error = m_executor.ultimo_error();
        m_shared->tell([&](RowWriter& w) { Q_EMIT w.rowRefused(row, statement, error); });
    }
    return true;
}

std::optional<bool> RowWriter::Loop::execute(const PaquetesInsert& insert) {
    const bool ok = m_executor.consultar(insert.sql, insert.values);
    m_shared->average = m_executor.tiempo_promedio();
    // A database that cannot write (its disk is full) keeps the rows waiting, as a lost one does.
    if (!ok && (!m_executor.isOpen() || m_executor.lastFailureWaits())) {
        goDown(m_executor.lastFailure());
        return std::nullopt;
    }
    return ok;
}

void RowWriter::Loop::noteSent(qint64 end) {
    if (m_down) {
        m_down = false;
        m_shared->tell([](RowWriter& w) { Q_EMIT w.connectionBack(); });
    }
    m_shared->connected = true;
    if (!uncommitted())
        m_firstUncommitted = SteadyClock::now();
    m_sent = end;
}

bool RowWriter::Loop::fillsABlock(std::span<const RowOutbox::Entry> entries) const {
    return m_rowsTogether && entries.size() >= kRowsTogether && entries.front().end > m_resendUntil;
}

bool RowWriter::Loop::sendTogether(std::span<const RowOutbox::Entry> entries) {
    std::vector<const PendingRow*> rows;
    rows.reserve(entries.size());
    for (const RowOutbox::Entry& entry : entries)
        rows.push_back(&entry.row);
    const std::optional<bool> stored =
        execute(PaquetesInsert::together(rows, m_executor.identityRefused().isEmpty()));
    if (!stored)
        return false;
    if (*stored) {
        noteSent(entries.back().end);
        m_stored += qint64(entries.size());
        return true;
    }
    // The statement left nothing behind: a row refused, or one the database had already, is found
    // and told going one by one.
    const qint64 storedBefore = m_stored;
    for (const RowOutbox::Entry& entry : entries) {
        if (!send(entry))
            return false;
    }
    if (m_stored - storedBefore == qint64(entries.size()))
        m_rowsTogether = false;
    return true;
}

void RowWriter::Loop::commit() {
    try {
        m_executor.commit();
    } catch (const std::exception& e) {
        goDown(base::messageOf(e));
        return;
    }
    // Counted before they leave the outbox: whoever sees the outbox empty has the count already.
    const qint64 stored = std::exchange(m_stored, 0) + m_alreadyThere;
    const qint64 alreadyThere = std::exchange(m_alreadyThere, 0);
    if (stored > 0)
        m_shared->tell([&](RowWriter& w) { Q_EMIT w.rowsStored(stored, alreadyThere); });
    m_outbox.confirm(m_sent);
    m_refusedTold.erase(m_refusedTold.begin(), m_refusedTold.upper_bound(m_sent));
}

void RowWriter::Loop::goDown(const QString& reason) {
    m_executor.abandon();
    m_shared->connected = false;
    // Whatever was sent since the last confirmed commit goes again, in order, and late.
    m_resendUntil = std::max(m_resendUntil, m_sent);
    m_sent = m_outbox.confirmedPosition();
    m_stored = 0;
    m_alreadyThere = 0;
    m_retryAt = SteadyClock::now() + retryDelay();
    if (!m_down || reason != m_downReason)
        m_shared->tell([&](RowWriter& w) { Q_EMIT w.connectionLost(reason); });
    m_down = true;
    m_downReason = reason;
}

RowWriter::RowWriter(std::shared_ptr<RowOutbox> outbox, QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>(std::move(outbox))) {
    m_shared->owner = this;
}

RowWriter::~RowWriter() {
    if (m_running)
        stop();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

void RowWriter::setDatabaseName(const QString& eddb) {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->databaseName = eddb;
        m_shared->nameChanged = true;
    }
    m_shared->changed.notify_one();
}

void RowWriter::setLogin(const DatabaseLogin& login) {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->newLogin = login;
    }
    m_shared->changed.notify_one();
}

void RowWriter::setRetryDelay(std::chrono::milliseconds delay) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->retryDelay = delay;
}

void RowWriter::start() {
    if (m_running)
        return;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = false;
        m_shared->finished = false;
    }
    m_running = true;
    // Detached: the close may have to leave a thread stuck in a connect behind, and it holds all
    // it touches.
    std::thread([shared = m_shared, foundAtStart = m_shared->outbox->endPosition()] {
        {
            Loop loop(shared, foundAtStart);
            loop.run();
        }
        const std::lock_guard lock(shared->mutex);
        shared->finished = true;
        shared->ended.notify_all();
    }).detach();
}

void RowWriter::wake() {
    m_uncommitted = true;
    m_shared->wake([] {});
}

void RowWriter::requestCommit() {
    m_uncommitted = false;
    m_shared->wake([this] { m_shared->commitUpTo = m_shared->outbox->endPosition(); });
}

bool RowWriter::hasUncommitted() const {
    return m_uncommitted;
}

bool RowWriter::stop(std::chrono::milliseconds limit) {
    if (!m_running)
        return true;
    m_running = false;
    std::unique_lock lock(m_shared->mutex);
    const auto now = SteadyClock::now();
    m_shared->stopping = true;
    // The last commit needs its moment within the limit.
    m_shared->stopBy = now + limit - std::min<std::chrono::milliseconds>(limit / 5, std::chrono::seconds(1));
    m_shared->changed.notify_one();
    const bool ended = m_shared->ended.wait_until(lock, now + limit, [this] { return m_shared->finished; });
    return ended && m_shared->outbox->pendingCount() == 0;
}

double RowWriter::tiempoPromedio() const {
    return m_shared->average;
}

bool RowWriter::isConnected() const {
    return m_shared->connected;
}

} // namespace storage
