#pragma once

#include "storage/DatabaseLogin.h"
#include "storage/PendingRow.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

namespace storage {

class RowOutbox;

// Sends the rows of the outbox to the database, on a thread of its own, so that the core never
// waits on a database that is slow, gone, or takes a connection and never answers. Rows go in the
// order they were stored; they leave the outbox only when the commit that carried them succeeded.
// A lost connection, or a database that cannot write (its disk is full), sends every unconfirmed
// row again after the reconnect, before any new one, and the unique `id_lectura` makes a row that a
// lost commit had stored after all a no-op. Only a row the database refuses for itself (a value too
// long, a constraint) is told once and not sent again.
//
// Rows are committed at the latest `kCommitWithin` after they were inserted, within that as the
// tick asks (requestCommit), and in batches of `kBacklogBatch` while a backlog is worked off.
//
// Its public functions are called from the core's thread; its signals come from the writer's.
class RowWriter final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RowWriter)

public:
    static constexpr std::chrono::milliseconds kCommitWithin{500};
    static constexpr qsizetype kBacklogBatch = 200;
    // How long a lost database is left alone before the next connect.
    static constexpr std::chrono::milliseconds kRetryDelay{2000};
    // How long the close waits for the rows still on their way.
    static constexpr std::chrono::milliseconds kCloseWait{10000};

    // The outbox is shared with the thread: a thread stuck in a connect at the close outlives this
    // object, and must still find it.
    explicit RowWriter(std::shared_ptr<RowOutbox> outbox, QObject* parent = nullptr);
    ~RowWriter() override; // stop(kCloseWait) when still running

    // `Eddb` as the connection takes it: the open connection is closed (after committing what it
    // holds) and the next row connects to the name given.
    void setDatabaseName(const QString& eddb);
    // Who the connection logs in as (the built-in login until this is called); taken as a new name
    // is.
    void setLogin(const DatabaseLogin& login);
    void setRetryDelay(std::chrono::milliseconds delay);

    void start();
    // Rows were appended to the outbox.
    void wake();
    // Commit what was handed over so far, as soon as it is inserted.
    void requestCommit();
    // Rows appended since the last requestCommit().
    bool hasUncommitted() const;
    // Sends and commits what it can within `limit`, then ends the thread; a thread still stuck in
    // the database after that is left to end on its own, and the rows it had not confirmed stay in
    // the outbox for the next start. True when everything sent was confirmed in time.
    bool stop(std::chrono::milliseconds limit = kCloseWait);

    // `tiempo_promedio` of the writer's statements, in milliseconds.
    double tiempoPromedio() const;
    bool isConnected() const;

Q_SIGNALS:
    // Rows the database confirmed, and among them rows it already had (sent again after a commit
    // whose outcome was unknown).
    void rowsStored(qint64 stored, qint64 alreadyThere);
    // The database refused the row for good: `statement` is the insert with its values written in.
    void rowRefused(const storage::PendingRow& row, const QString& statement, const QString& error);
    // The connection failed or was lost; told again when the reason changes.
    void connectionLost(const QString& error);
    // A connection works again after connectionLost.
    void connectionBack();
    // The outbox's file failed (a read, a confirmation); its rows wait and are tried again.
    void outboxFailed(const QString& error);
    // A local database was not there and was made, at this full path.
    void databaseCreated(const QString& path);
    // The table has no `id_lectura` and it could not be added: resent rows may be stored twice.
    void identityUnavailable(const QString& error);

private:
    struct Shared;
    class Loop;

    std::shared_ptr<Shared> m_shared;
    bool m_running = false;
    bool m_uncommitted = false;
};

} // namespace storage
