#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A Firebird server of the test's own: a root folder of links to the installed engine with its own
// configuration (a free port on 127.0.0.1, its own IPC name, lock folder and security database
// where SYSDBA has the station's built-in password unless given another), run as a child process and
// stopped by its process id. The machine's own Firebird service and its passwords are never touched.
class PrivateFirebirdServer final {
public:
    explicit PrivateFirebirdServer(QString sysdbaPassword = QString::fromLatin1(kBuiltInPassword));
    ~PrivateFirebirdServer();
    PrivateFirebirdServer(const PrivateFirebirdServer&) = delete;
    PrivateFirebirdServer& operator=(const PrivateFirebirdServer&) = delete;

    // Starts the server and waits, with a bound, until it accepts connections. False with `error()`
    // when the root could not be prepared or the server did not come up.
    bool start();
    // Kills the server at once (SIGKILL to its pid), as a crash or a pulled cable would end it.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    quint16 port() const { return m_port; }
    // A folder for database files the server may create.
    QString dataDir() const;
    // "127.0.0.1/port:path" for a file in the data folder.
    QString connectionString(const QString& fileName) const;
    const QString& error() const { return m_error; }
    const QString& sysdbaPassword() const { return m_sysdbaPassword; }

    // Runs an isql script (which connects where it needs to) against this server's engine; false
    // with `error()` when isql failed or reported a failed statement.
    bool runIsql(const QString& script);

    // The station's built-in SYSDBA password, which existing servers have.
    static constexpr const char* kBuiltInPassword = "mivoltakrune";

private:
    bool prepare();
    QProcessEnvironment environment() const;

    QTemporaryDir m_root;
    QProcess m_process;
    QString m_sysdbaPassword;
    quint16 m_port = 0;
    bool m_prepared = false;
    QString m_error;
};
