#include "storage/DatabaseLogin.h"
#include "storage/PaquetesInsert.h"
#include "storage/PaquetesTable.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FreePort.h"
#include "tests/support/PrivateFirebirdServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/QueuedSpy.h"
#include "tests/support/StationEnvironment.h"
#include "tests/support/StationProcess.h"
#include "tools/ReadingGenerator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <utility>

using namespace Qt::StringLiterals;
using storage::DatabaseLogin;
using storage::StatementExecutor;

namespace {

constexpr int kWaitMs = 30000;

// The hub's SYSDBA does not have the station's built-in password: nothing below may lean on it.
const QString kSysdbaPassword = u"clave-del-hub-7Q"_s;
const QString kStationUser = u"ESTACION1"_s;
const QString kStationPassword = u"clave-de-la-cinta-3x"_s;
const QString kRole = u"ORVANEDB_STATION"_s;

// A credentials file with the given text and mode.
QString writeFile(const QString& path, const QByteArray& text, QFile::Permissions mode) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    EXPECT_TRUE(QFile::setPermissions(path, mode));
    return path;
}

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// One private server whose SYSDBA has a password of the hub's own, a database with the table, and
// the role and the station's user made as the administrator makes them: sql/station-role.sql
// through isql, then the user as its comments tell.
class DatabaseCredentials : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<QTemporaryDir>();
        s_server = std::make_unique<PrivateFirebirdServer>(kSysdbaPassword);
        if (!s_server->start()) {
            s_setupError = s_server->error();
            return;
        }
        s_sysdba = std::make_unique<DatabaseLogin>(DatabaseLogin::fromFile(writeFile(
            s_dir->filePath(u"sysdba"_s), "SYSDBA\n" + kSysdbaPassword.toUtf8() + "\n", kOwnerOnly)));
        s_station = std::make_unique<DatabaseLogin>(DatabaseLogin::fromFile(
            writeFile(s_dir->filePath(u"estacion"_s),
                      (kStationUser + u"\r\n"_s + kStationPassword + u"\r\n"_s + kRole + u"\r\n"_s).toUtf8(),
                      kOwnerOnly)));
        s_eddb = s_server->connectionString(u"hub.fdb"_s);
        try {
            storage::createDatabase(s_eddb, *s_sysdba);
        } catch (const std::exception& e) {
            s_setupError = base::messageOf(e);
            return;
        }
        if (!grantTheRole(s_eddb, true))
            s_setupError = s_server->error();
    }
    static void TearDownTestSuite() {
        s_server.reset();
        s_station.reset();
        s_sysdba.reset();
        s_dir.reset();
    }

    void SetUp() override { ASSERT_TRUE(s_setupError.isEmpty()) << qPrintable(s_setupError); }

    // Runs the role's script on `eddb` and grants the role to the station's user, made first when
    // asked.
    static bool grantTheRole(const QString& eddb, bool makeUser) {
        QString script = u"connect '%1' user 'SYSDBA' password '%2';\n"_s.arg(eddb, kSysdbaPassword) +
                         fileText(QString::fromUtf8(STATION_ROLE_SQL));
        // The user is the server's, the role and its grant the database's.
        if (makeUser)
            script += u"\ncreate user %1 password '%2';\n"_s.arg(kStationUser, kStationPassword);
        script += u"grant %1 to user %2;\ncommit;\n"_s.arg(kRole, kStationUser);
        return s_server->runIsql(script);
    }

    static QString asSysdba(const QString& eddb, const QString& query) {
        StatementExecutor reader;
        reader.setLogin(*s_sysdba);
        reader.setDatabaseName(eddb);
        EXPECT_TRUE(reader.consultar(query)) << qPrintable(reader.lastFailure());
        return reader.ultimo_resultado();
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<PrivateFirebirdServer> s_server;
    static inline std::unique_ptr<DatabaseLogin> s_sysdba;
    static inline std::unique_ptr<DatabaseLogin> s_station;
    static inline QString s_eddb;
    static inline QString s_setupError;
};

// ---- The station's login on the server ----------------------------------------------------------

TEST_F(DatabaseCredentials, TheStationsRoleMayInsertAndNothingElse) {
    StatementExecutor station;
    station.setLogin(*s_station);
    station.setDatabaseName(s_eddb);
    storage::PendingRow row{u"L-rol"_s, QDateTime::currentDateTime(),
                            storage::StatementValues{u"P1"_s, u"CAM-01"_s, u"GUIA-ROL"_s, 12.5, 30.0, 45.5,
                                                     4.5, 3.4, u"Con dim-Con peso-Con gu\u00eda"_s}};
    for (const bool late : {false, true}) {
        row.lectura = late ? u"L-rol-tarde"_s : u"L-rol"_s;
        const storage::PaquetesInsert insert = storage::PaquetesInsert::of(row, late, true);
        EXPECT_TRUE(station.consultar(insert.sql, insert.values)) << qPrintable(station.lastFailure());
    }
    EXPECT_TRUE(station.identityRefused().isEmpty()) << qPrintable(station.identityRefused());
    station.commit();
    EXPECT_EQ(asSysdba(s_eddb, u"select count(*) from paquetes where paquete = 'GUIA-ROL'"_s), u"2"_s);

    for (const QString& statement :
         {u"select count(*) from paquetes"_s, u"update paquetes set plaza = 'X'"_s, u"delete from paquetes"_s,
          u"alter table paquetes add z integer"_s, u"drop table paquetes"_s}) {
        SCOPED_TRACE(qPrintable(statement));
        EXPECT_FALSE(station.consultar(statement));
        EXPECT_TRUE(station.lastFailure().contains(u"no tiene permiso"_s))
            << qPrintable(station.lastFailure());
        EXPECT_TRUE(station.lastFailure().contains(u"no permission"_s)) << qPrintable(station.lastFailure());
        EXPECT_FALSE(station.isOpen()) << "a refused privilege is the login's, not the row's";
    }
    EXPECT_EQ(asSysdba(s_eddb, u"select count(*) from paquetes where plaza = 'X'"_s), u"0"_s);
    EXPECT_EQ(asSysdba(s_eddb, u"select count(*) from rdb$relation_fields where rdb$relation_name = "
                               u"'PAQUETES' and rdb$field_name = 'Z'"_s),
              u"0"_s);
}

// A table made before `id_lectura` existed: the restricted login cannot add the column, says why,
// and its rows are stored without it.
TEST_F(DatabaseCredentials, AnOlderTableTheStationCannotAlterStillTakesItsRows) {
    const QString eddb = s_server->connectionString(u"antigua.fdb"_s);
    ASSERT_TRUE(s_server->runIsql(
        u"create database '%1' user 'SYSDBA' password '%2';\n"
        u"create table paquetes (id bigint generated by default as identity primary key, "
        u"plaza varchar(32) character set win1252, origen varchar(255) character set win1252, "
        u"paquete varchar(32) character set win1252, momento time, longitud double precision, "
        u"altura double precision, profundidad double precision, peso double precision, "
        u"pesovolumen double precision, estatus varchar(32) character set win1252, ano smallint, "
        u"mes smallint, dia smallint, hora smallint);\ncommit;\n"_s.arg(eddb, kSysdbaPassword)))
        << qPrintable(s_server->error());
    ASSERT_TRUE(grantTheRole(eddb, false)) << qPrintable(s_server->error());

    auto outbox = std::make_shared<storage::RowOutbox>(s_dir->filePath(u"antigua.diario"_s));
    storage::RowWriter writer(outbox);
    writer.setRetryDelay(std::chrono::milliseconds(50));
    writer.setLogin(*s_station);
    writer.setDatabaseName(eddb);
    QueuedSpy<QString> unavailable(&writer, &storage::RowWriter::identityUnavailable);
    QueuedSpy<QString> lost(&writer, &storage::RowWriter::connectionLost);
    writer.start();
    for (int n = 1; n <= 3; ++n) {
        outbox->append({u"L%1"_s.arg(n), QDateTime::currentDateTime(),
                        storage::StatementValues{u"P"_s, u"CAM"_s, u"G%1"_s.arg(n), 1.0, 2.0, 3.0, 4.0, 5.0,
                                                 u"Con dim-Con peso-Con gu\u00eda"_s}});
    }
    writer.wake();
    writer.requestCommit();
    EXPECT_TRUE(QTest::qWaitFor([&] { return outbox->pendingCount() == 0; }, kWaitMs));
    writer.stop();
    QCoreApplication::processEvents();
    ASSERT_EQ(unavailable.size(), 1u);
    EXPECT_TRUE(std::get<0>(unavailable.at(0)).contains(u"no permission for ALTER"_s))
        << qPrintable(std::get<0>(unavailable.at(0)));
    EXPECT_TRUE(lost.isEmpty()) << qPrintable(std::get<0>(lost.at(0)));
    EXPECT_EQ(asSysdba(eddb, u"select count(*) from paquetes"_s), u"3"_s);
}

// A login the server refuses, or one that lacks the role's privilege (Firebird 3 applies the role
// only when the login names it), is told once however often the writer tries again, with whose
// login it was and the server's own reason; the rows wait, none is dumped as refused.
TEST_F(DatabaseCredentials, ALoginThatCannotStoreIsToldOnceWhileTheRowsWait) {
    struct Case {
        const char* name;
        QByteArray file;
        QString toldAs;
        QString serverReason;
    };
    const QByteArray user = kStationUser.toUtf8();
    for (const Case& c :
         {Case{"wrong password", user + "\nno-es-la-clave\n" + kRole.toUtf8(),
               u"La base de datos no acept\u00f3 al usuario \"ESTACION1\": "_s, u"user name and password"_s},
          Case{"role not named", user + "\n" + kStationPassword.toUtf8() + "\n",
               u"El usuario \"ESTACION1\" no tiene permiso en la base de datos: "_s,
               u"no permission for INSERT access to TABLE PAQUETES"_s}}) {
        SCOPED_TRACE(c.name);
        const QString stem = QString::fromLatin1(c.name).replace(u' ', u'-');
        const DatabaseLogin login =
            DatabaseLogin::fromFile(writeFile(s_dir->filePath(stem), c.file, kOwnerOnly));
        auto outbox = std::make_shared<storage::RowOutbox>(s_dir->filePath(stem + u".diario"_s));
        storage::RowWriter writer(outbox);
        // The server makes every fourth failed login in a row wait 8 s: two or three tries here.
        writer.setRetryDelay(std::chrono::milliseconds(200));
        writer.setLogin(login);
        writer.setDatabaseName(s_eddb);
        QueuedSpy<QString> lost(&writer, &storage::RowWriter::connectionLost);
        QueuedSpy<const storage::PendingRow&, const QString&, const QString&> refused(
            &writer, &storage::RowWriter::rowRefused);
        writer.start();
        outbox->append({u"L-"_s + stem, QDateTime::currentDateTime(),
                        storage::StatementValues{u"P"_s, u"CAM"_s, u"G-"_s + stem, 1.0, 2.0, 3.0, 4.0, 5.0,
                                                 u"Con dim-Con peso-Con gu\u00eda"_s}});
        writer.wake();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.isEmpty(); }, kWaitMs));
        QTest::qWait(300);
        writer.stop(std::chrono::milliseconds(1000));
        QCoreApplication::processEvents();
        ASSERT_EQ(lost.size(), 1u);
        const QString told = std::get<0>(lost.at(0));
        EXPECT_TRUE(told.startsWith(c.toldAs)) << qPrintable(told);
        EXPECT_TRUE(told.contains(c.serverReason)) << qPrintable(told);
        EXPECT_FALSE(told.contains(u"clave"_s)) << qPrintable(told);
        EXPECT_TRUE(refused.isEmpty());
        EXPECT_EQ(outbox->pendingCount(), 1);
    }
}

// ---- The console station with a credentials file ------------------------------------------------

class CredentialsStation : public DatabaseCredentials {
protected:
    void SetUp() override {
        DatabaseCredentials::SetUp();
        ASSERT_TRUE(m_work.isValid() && m_config.isValid() && m_secrets.isValid());
        m_port = testsupport::freePort(QHostAddress::LocalHost);
        m_metricsPort = testsupport::freePort(QHostAddress::LocalHost);
        testsupport::storeStationSettings(
            m_config.path(), {{u"Edpuerto_Text"_s, QString::number(m_port)}, {u"Eddb_Text"_s, s_eddb}});
        m_environment = testsupport::stationEnvironment(m_config.path());
        m_station.setWorkingDirectory(m_work.path());
        m_station.setProgram(QString::fromUtf8(ORVANEDB_PATH));
    }

    void start(const QStringList& arguments) {
        m_station.setProcessEnvironment(m_environment);
        m_station.setArguments(
            QStringList{u"--console"_s, u"--metrics"_s, u"127.0.0.1:"_s + QString::number(m_metricsPort)} +
            arguments);
        m_station.start();
        ASSERT_TRUE(m_station.waitForStarted(kWaitMs));
        ASSERT_TRUE(m_station.waitUntilListening(m_output, kWaitMs))
            << qPrintable(m_output) << qPrintable(QString::fromUtf8(m_station.readAllStandardError()));
    }

    // SIGTERM and the station's close; answers what this run wrote to stderr.
    QString stop() {
        m_station.terminate();
        EXPECT_TRUE(m_station.waitForFinished(kWaitMs));
        EXPECT_EQ(m_station.exitCode(), 0);
        m_output += QString::fromUtf8(m_station.readAllStandardOutput());
        const QString errors =
            std::exchange(m_runErrors, {}) + QString::fromUtf8(m_station.readAllStandardError());
        m_errors += errors;
        return errors;
    }

    // Waits until this run has written `text` to stderr: a report comes with the status refresh,
    // which may follow the metrics by up to a second.
    bool errorsShow(const QString& text) {
        const QDeadlineTimer deadline(kWaitMs);
        while (!m_runErrors.contains(text) && !deadline.hasExpired()) {
            m_station.waitForReadyRead(100);
            m_runErrors += QString::fromUtf8(m_station.readAllStandardError());
        }
        return m_runErrors.contains(text);
    }

    void send(int lines, int seed) {
        QTcpSocket device;
        device.connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(device.waitForConnected(kWaitMs));
        tools::ReadingGenerator generator(20240105, seed);
        QByteArray bytes;
        for (int i = 0; i < lines; ++i)
            bytes += generator.next();
        device.write(bytes);
        while (device.bytesToWrite() > 0)
            ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
    }

    // Waits until the metrics say `stored` rows were stored and `waiting` wait.
    bool metricsShow(int stored, int waiting) {
        const QDeadlineTimer deadline(kWaitMs);
        while (!deadline.hasExpired()) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_metricsPort);
            if (socket.waitForConnected(kWaitMs)) {
                socket.write("GET /metrics HTTP/1.1\r\nHost: station\r\n\r\n");
                QByteArray response;
                while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(kWaitMs))
                    response += socket.readAll();
                response += socket.readAll();
                m_lastMetrics = QString::fromUtf8(response);
                if (response.contains("\norvanedb_rows_stored_total " + QByteArray::number(stored) + "\n") &&
                    response.contains("\norvanedb_rows_waiting " + QByteArray::number(waiting) + "\n"))
                    return true;
            }
            QTest::qWait(100);
        }
        return false;
    }

    QString stationFile(const QString& name, const QString& password) {
        return writeFile(m_secrets.filePath(name),
                         (kStationUser + u"\n"_s + password + u"\n"_s + kRole + u"\n"_s).toUtf8(),
                         kOwnerOnly);
    }

    // Nothing the station printed or left in its folders holds the password.
    void expectPasswordNowhere(const QString& password) {
        EXPECT_FALSE(m_output.contains(password));
        EXPECT_FALSE(m_errors.contains(password));
        EXPECT_FALSE(m_lastMetrics.contains(password));
        for (const QString& root : {m_work.path(), m_config.path()}) {
            QDirIterator files(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString path = files.next();
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
                const QByteArray bytes = file.readAll();
                EXPECT_FALSE(bytes.contains(password.toUtf8()) ||
                             bytes.contains(QByteArray(reinterpret_cast<const char*>(password.utf16()),
                                                       password.size() * 2)))
                    << qPrintable(path);
            }
        }
    }

    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QTemporaryDir m_secrets;
    QProcessEnvironment m_environment;
    testsupport::StationProcess m_station;
    quint16 m_port = 0;
    quint16 m_metricsPort = 0;
    QString m_output;
    QString m_errors;
    QString m_runErrors; // read from stderr before the run's stop()
    QString m_lastMetrics;
};

TEST_F(CredentialsStation, AStationWithItsOwnLoginStoresItsRows) {
    const QString before = asSysdba(s_eddb, u"select count(*) from paquetes"_s);
    start({u"--db-credentials"_s, stationFile(u"db"_s, kStationPassword)});
    send(20, 1);
    EXPECT_TRUE(metricsShow(20, 0)) << qPrintable(m_lastMetrics);
    stop();
    EXPECT_EQ(asSysdba(s_eddb, u"select count(*) - %1 from paquetes"_s.arg(before)), u"20"_s)
        << qPrintable(m_errors);
    EXPECT_EQ(asSysdba(s_eddb, u"select count(*) from paquetes where id_lectura is null"_s), u"0"_s)
        << "every reading identity went with its row";
    expectPasswordNowhere(kStationPassword);
}

// A wrong password: told once on stderr with the server's reason, the rows wait; a restart with the
// file fixed (here as the service's credential) stores them.
TEST_F(CredentialsStation, AWrongPasswordIsToldOnceAndTheRowsGoAfterARestartWithTheRightOne) {
    const QString before = asSysdba(s_eddb, u"select count(*) from paquetes"_s);
    start({u"--db-credentials"_s, stationFile(u"db"_s, u"clave-equivocada"_s)});
    send(10, 2);
    EXPECT_TRUE(metricsShow(0, 10)) << qPrintable(m_lastMetrics);
    const QString refused = u"La base de datos no acept\u00f3 al usuario \"ESTACION1\": "_s;
    errorsShow(refused);
    const QString errors = stop();
    EXPECT_EQ(errors.count(refused), 1) << qPrintable(errors);
    EXPECT_TRUE(errors.contains(u"user name and password"_s)) << qPrintable(errors);

    writeFile(m_secrets.filePath(u"orvanedb-db"_s),
              (kStationUser + u"\n"_s + kStationPassword + u"\n"_s + kRole).toUtf8(), kOwnerOnly);
    m_environment.insert(u"CREDENTIALS_DIRECTORY"_s, m_secrets.path());
    start({});
    EXPECT_TRUE(metricsShow(10, 0)) << qPrintable(m_lastMetrics);
    stop();
    EXPECT_EQ(asSysdba(s_eddb, u"select count(*) - %1 from paquetes"_s.arg(before)), u"10"_s)
        << qPrintable(m_errors);
    expectPasswordNowhere(kStationPassword);
    expectPasswordNowhere(u"clave-equivocada"_s);
}

// ---- Files that are refused before anything starts ----------------------------------------------

struct FileCase {
    const char* name;
    std::optional<QByteArray> text; // none: no file at all
    QFile::Permissions mode;
    const char* why;          // in the message
    bool fromSystemd = false; // handed as the service's credential instead of --db-credentials
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr QFile::Permissions kGroupReads = kOwnerOnly | QFile::ReadGroup;
constexpr QFile::Permissions kOthersRead = kOwnerOnly | QFile::ReadOther;
const QByteArray kGood = "ESTACION1\nclave-secreta-9\nORVANEDB_STATION\n";

class RefusedFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(RefusedFile, EndsTheProgramWithStatus2NamingTheFile) {
    const FileCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(c.fromSystemd ? u"orvanedb-db"_s : u"credenciales"_s);
    if (c.text)
        writeFile(path, *c.text, c.mode);
    QProcessEnvironment environment = testsupport::stationEnvironment(dir.filePath(u"config"_s));
    QStringList arguments{u"--console"_s};
    if (c.fromSystemd)
        environment.insert(u"CREDENTIALS_DIRECTORY"_s, dir.path());
    else
        arguments << u"--db-credentials"_s << path;
    QProcess station;
    station.setProcessEnvironment(environment);
    station.setWorkingDirectory(dir.path());
    station.start(QString::fromUtf8(ORVANEDB_PATH), arguments);
    ASSERT_TRUE(station.waitForFinished(kWaitMs));
    const QString errors = QString::fromUtf8(station.readAllStandardError());
    EXPECT_EQ(station.exitCode(), 2) << qPrintable(errors);
    EXPECT_TRUE(errors.contains(u"\"%1\""_s.arg(path))) << qPrintable(errors);
    EXPECT_TRUE(errors.contains(QString::fromUtf8(c.why))) << qPrintable(errors);
    EXPECT_FALSE(errors.contains(u"clave-secreta"_s)) << qPrintable(errors);
    EXPECT_FALSE(QString::fromUtf8(station.readAllStandardOutput()).contains(u"Monitoreando"_s));
    EXPECT_FALSE(QFile::exists(dir.filePath(u"filas.diario"_s))) << "refused before anything started";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedFile,
    ::testing::Values(
        FileCase{"GroupReadable", kGood, kGroupReads, "lo puede leer su grupo (permisos 0640)"},
        FileCase{"OthersReadable", kGood, kOthersRead, "lo puede leer cualquier usuario"},
        FileCase{"Missing", std::nullopt, kOwnerOnly, "no existe"},
        FileCase{"Empty", QByteArray(), kOwnerOnly, "est\u00e1 vac\u00edo"},
        FileCase{"OneLineOnly", QByteArray("ESTACION1\n"), kOwnerOnly, "falta la clave"},
        FileCase{"OverLong", "ESTACION1\n" + QByteArray(5000, 'x') + "\n", kOwnerOnly, "demasiado grande"},
        FileCase{"UserBeyondFirebird", QByteArray(40, 'U') + "\nclave-secreta-9\n", kOwnerOnly,
                 "el usuario pasa de 31 bytes"},
        FileCase{"PasswordBeyondFirebird", "ESTACION1\nclave-secreta-" + QByteArray(300, '9'), kOwnerOnly,
                 "la clave pasa de 255 bytes"},
        FileCase{"GroupReadableFromSystemd", kGood, kGroupReads, "lo puede leer su grupo", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
