#pragma once

#include "base/Stopwatch.h"
#include "storage/DatabaseLogin.h"
#include "storage/StatementValue.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

namespace storage {

// The station's only road to its database: one connection `DBD` to the database named by `Eddb`,
// the one transaction `TR` it works in, and the statements run on it. Nothing is opened up front:
// the first statement connects, every statement starts a transaction when none is active, the
// processing tick commits at its cadence, and closing commits whatever is still open.
//
// A name without "host:" or "host/port:" is a local database file opened by the embedded engine;
// when that file does not exist yet it is created with the table `paquetes`.
//
// Touched on the core's thread only.
class StatementExecutor final {
public:
    static constexpr int kDialecto = 3;
    // How long a connect to a server may take, answer included: a server that takes the connection
    // and never answers costs this, not the client's three minutes.
    static constexpr int kConnectTimeoutSeconds = 10;

    StatementExecutor();
    explicit StatementExecutor(base::Stopwatch& stopwatch);
    ~StatementExecutor(); // the shutdown: commits an open transaction, then detaches

    StatementExecutor(const StatementExecutor&) = delete;
    StatementExecutor& operator=(const StatementExecutor&) = delete;

    // FormCreate / FormShow copy `Eddb` into the connection; it takes effect on the next connect.
    void setDatabaseName(const QString& eddb) { m_databaseName = eddb; }
    const QString& databaseName() const { return m_databaseName; }
    // Who to log in as (the built-in login unless set); it takes effect on the next connect.
    void setLogin(const DatabaseLogin& login) { m_login = login; }

    // The hidden "Conectar": close, then take the new name; the next statement connects to it.
    void reconnect(const QString& eddb);

    // Runs one statement of literal text, timed, and keeps the first column of a query's last row
    // in `ultimo_resultado`. False when it could not connect or the statement failed.
    bool consultar(const QString& sql);
    // The same for a statement with "?" markers and their values, passed as parameters: no value
    // can change the statement, and every value arrives as it is. One prepared statement is kept
    // per statement text while the connection lasts.
    bool consultar(const QString& sql, const StatementValues& values);

    // Runs one statement given in the code page, untimed; records `ultimo_error` on failure and
    // closes the connection when the failure means it is lost.
    bool Ejecutar_query(const QByteArray& narrowed);
    bool Ejecutar_query(const QByteArray& narrowed, const StatementValues& values);

    // Makes sure a transaction is active, connecting first if needed.
    bool Iniciar_T();
    // Connects when not connected; a fresh connection starts the transaction too.
    bool Abrir_BD();
    // Commits an active transaction (abandoned when that fails) and detaches.
    void cerrar();
    // The close at shutdown.
    void release() { cerrar(); }
    // Closes a connection that failed without committing what its transaction held: the caller
    // sends it again elsewhere. Nothing is said of a commit that could not have succeeded.
    void abandon();

    bool es_modificacion() const;
    bool isOpen() const;

    // `TR`, committed by the database writer. The commit raises base::Error, after leaving the
    // connection, when the file of a local database is no longer the one that was opened.
    bool isActive() const;
    void commit();

    const QString& sql_actual() const { return m_sqlActual; }
    const QString& ultimo_error() const { return m_ultimoError; }
    const QString& ultimo_resultado() const { return m_ultimoResultado; }
    double tiempo_promedio() const { return m_tiempoPromedio; }
    // Why the last connect failed; connect failures leave `ultimo_error` as it was.
    const QString& connectError() const { return m_connectError; }
    // Why the table of the open database has no `id_lectura` with its unique index (it could not
    // be added); empty when it has them.
    const QString& identityRefused() const { return m_identityRefused; }
    // The full path of a local database the last connect had to make, once; empty otherwise.
    QString takeCreatedDatabase() { return std::exchange(m_created, {}); }
    // Why the last `consultar` failed, whether at connecting or in the statement: the text a
    // refused row is reported and dumped with.
    const QString& lastFailure() const { return m_failedToConnect ? m_connectError : m_ultimoError; }
    // Whether the last `consultar` failed for the database's sake rather than the statement's: it
    // could not connect, the connection went, or the database could not do the work (its disk is
    // full). What the statement carried is to be sent again later, not refused.
    bool lastFailureWaits() const { return m_failedToConnect || m_failureWaits; }

private:
    struct Connection;

    bool timed(const QString& sql, const StatementValues* values);
    // `sql` is `narrowed` as the code page reads it back.
    bool execute(const QByteArray& narrowed, const QString& sql, const StatementValues* values);
    // The private layer: each raises FirebirdError.
    void attach();
    void ensureTransaction();
    void run(const QByteArray& narrowed, const StatementValues* values);

    base::SteadyStopwatch m_ownStopwatch;
    base::Stopwatch& m_stopwatch;
    std::unique_ptr<Connection> m_db;

    QString m_databaseName;
    DatabaseLogin m_login = DatabaseLogin::builtIn();
    QString m_sqlActual;
    // The last text `consultar` was given, in the code page and read back from it: the writer
    // sends the same insert row after row.
    QString m_lastSql;
    QByteArray m_lastNarrowed;
    QString m_lastReadBack;
    QString m_ultimoError;
    QString m_ultimoResultado;
    QString m_connectError;
    QString m_identityRefused;
    QString m_created;
    std::optional<QString> m_filaActual; // first column of the current row after a query
    double m_tiempoPromedio = 0.0;
    bool m_failedToConnect = false; // the last `consultar` could not connect
    bool m_failureWaits = false;    // the last statement failed for the database's sake
};

} // namespace storage
