#include "tests/support/PrivateFirebirdServer.h"
#include "tests/support/FreePort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/prctl.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QString kEngineRoot = u"/usr/lib/x86_64-linux-gnu/firebird/3.0"_s;
const QString kSystemSecurity = u"/var/lib/firebird/3.0/system/security3.fdb"_s;
const QString kServer = u"/usr/sbin/firebird"_s;

bool writeFile(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0;
}

} // namespace

PrivateFirebirdServer::PrivateFirebirdServer(QString sysdbaPassword)
    : m_sysdbaPassword(std::move(sysdbaPassword)) {
    m_process.setProgram(kServer);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    // A test binary that dies must not leave its server behind.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

PrivateFirebirdServer::~PrivateFirebirdServer() {
    kill();
}

QString PrivateFirebirdServer::dataDir() const {
    return m_root.filePath(u"data"_s);
}

QString PrivateFirebirdServer::connectionString(const QString& fileName) const {
    return u"127.0.0.1/%1:%2"_s.arg(m_port).arg(QDir(dataDir()).filePath(fileName));
}

QProcessEnvironment PrivateFirebirdServer::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"FIREBIRD"_s, m_root.path());
    env.insert(u"FIREBIRD_LOCK"_s, m_root.filePath(u"lock"_s));
    env.insert(u"FIREBIRD_TMP"_s, m_root.filePath(u"tmp"_s));
    return env;
}

bool PrivateFirebirdServer::runIsql(const QString& script) {
    QString isql = QStandardPaths::findExecutable(u"isql-fb"_s);
    if (isql.isEmpty())
        isql = QStandardPaths::findExecutable(u"isql"_s);
    if (isql.isEmpty()) {
        m_error = u"isql-fb not found (package firebird3.0-utils)"_s;
        return false;
    }
    const QString scriptPath = m_root.filePath(u"setup.sql"_s);
    if (!writeFile(scriptPath, script)) {
        m_error = u"cannot write "_s + scriptPath;
        return false;
    }
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(isql, {u"-q"_s, u"-i"_s, scriptPath});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        m_error = u"isql failed: "_s + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    // isql reports most script errors on its output with a zero exit code.
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (output.contains(u"Statement failed"_s) || output.contains(u"SQLSTATE"_s)) {
        m_error = u"isql failed: "_s + output;
        return false;
    }
    return true;
}

bool PrivateFirebirdServer::prepare() {
    if (m_prepared)
        return true;
    if (!m_root.isValid()) {
        m_error = u"no temporary folder"_s;
        return false;
    }
    const QDir root(m_root.path());
    for (const QString& sub : {u"data"_s, u"lock"_s, u"tmp"_s})
        root.mkpath(sub);
    const QDir engine(kEngineRoot);
    for (const QString& entry : engine.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (entry == u"firebird.conf"_s || entry == u"databases.conf"_s)
            continue;
        // The engine resolves the character-set module's real path and refuses one that lies
        // outside its root, so that folder holds copies rather than links.
        if (entry == u"intl"_s) {
            root.mkpath(entry);
            const QDir intl(engine.filePath(entry));
            for (const QString& file : intl.entryList(QDir::Files))
                QFile::copy(intl.filePath(file), root.filePath(entry + u'/' + file));
            continue;
        }
        QFile::link(engine.filePath(entry), root.filePath(entry));
    }
    m_port = testsupport::freePort(QHostAddress::LocalHost);
    const QString security = root.filePath(u"security3.fdb"_s);
    const QString conf = u"RemoteServicePort = %1\n"
                         "RemoteBindAddress = 127.0.0.1\n"
                         "IpcName = orvane_test_%1\n"
                         "SecurityDatabase = %2\n"
                         "ServerMode = Super\n"
                         "DefaultDbCachePages = 256\n"_s.arg(m_port)
                             .arg(security);
    if (m_port == 0 || !writeFile(root.filePath(u"firebird.conf"_s), conf) ||
        !writeFile(root.filePath(u"databases.conf"_s), u"security.db = %1\n"_s.arg(security))) {
        m_error = u"cannot write the server's configuration"_s;
        return false;
    }
    // The installed security database as the recipe wants it; where it cannot be read (not root,
    // not in the firebird group) an empty one of our own serves as well: the Srp plugin creates
    // its table on the first user.
    QString script;
    if (QFile::copy(kSystemSecurity, security)) {
        QFile::setPermissions(security, QFile::ReadOwner | QFile::WriteOwner);
        script = u"connect '%1' user 'SYSDBA';\n"_s.arg(security);
    } else {
        script = u"create database '%1' user 'SYSDBA';\n"_s.arg(security);
    }
    script +=
        u"create or alter user SYSDBA password '%1' using plugin Srp;\ncommit;\n"_s.arg(m_sysdbaPassword);
    if (!runIsql(script))
        return false;
    m_prepared = true;
    return true;
}

bool PrivateFirebirdServer::start() {
    if (isRunning())
        return true;
    if (!prepare())
        return false;
    m_process.setProcessEnvironment(environment());
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = u"cannot start "_s + kServer + u": "_s + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(250))
            return true;
        if (m_process.waitForFinished(100)) {
            m_error = u"the server ended at start, exit code %1"_s.arg(m_process.exitCode());
            return false;
        }
    }
    m_error = u"the server did not listen on port %1"_s.arg(m_port);
    kill();
    return false;
}

void PrivateFirebirdServer::kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}
