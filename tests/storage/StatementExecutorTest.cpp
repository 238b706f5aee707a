#include "storage/StatementExecutor.h"
#include "base/Error.h"
#include "storage/DatabaseName.h"
#include "storage/FirebirdError.h"
#include "storage/PaquetesTable.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ServerSuite.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

using namespace Qt::StringLiterals;
using storage::StatementExecutor;

namespace {

// Hands out the durations the test scripted, one per statement.
class ScriptedStopwatch final : public base::Stopwatch {
public:
    explicit ScriptedStopwatch(std::deque<qint64> durations)
        : m_durations(std::move(durations)) {}
    void restart() override {
        m_current = m_durations.empty() ? 0 : m_durations.front();
        if (!m_durations.empty())
            m_durations.pop_front();
        ++m_restarts;
    }
    qint64 elapsedMs() const override { return m_current; }
    int restarts() const { return m_restarts; }

private:
    std::deque<qint64> m_durations;
    qint64 m_current = 0;
    int m_restarts = 0;
};

const QString kInsertPlaza = u"insert into paquetes(plaza) values (?)"_s;

// What a statement reads back, through an executor of its own.
QString readBack(const QString& eddb, const QString& query) {
    StatementExecutor reader;
    reader.setDatabaseName(eddb);
    EXPECT_TRUE(reader.consultar(query)) << qPrintable(reader.ultimo_error());
    return reader.ultimo_resultado();
}

class EmbeddedExecutor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_eddb = m_dir.filePath(u"station.fdb"_s);
        executor.setDatabaseName(m_eddb);
    }

    QTemporaryDir m_dir;
    QString m_eddb;
    StatementExecutor executor;
};

TEST_F(EmbeddedExecutor, FirstStatementCreatesTheFileConnectsAndStartsATransaction) {
    EXPECT_FALSE(executor.isOpen());
    EXPECT_FALSE(QFile::exists(m_eddb));

    ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s))
        << qPrintable(executor.ultimo_error());
    EXPECT_TRUE(QFile::exists(m_eddb));
    EXPECT_TRUE(executor.isOpen());
    EXPECT_TRUE(executor.isActive());
    EXPECT_EQ(executor.ultimo_resultado(), u"0"_s);
}

// What a station killed while it made its database leaves: a half-made file under the name it is
// made under, never under the database's own name.
TEST_F(EmbeddedExecutor, AFileLeftHalfMadeByAKilledStationIsMadeAgain) {
    {
        QFile halfMade(m_eddb + u".nueva"_s);
        ASSERT_TRUE(halfMade.open(QIODevice::WriteOnly));
        halfMade.write(QByteArray(4096, '\0'));
    }
    ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s))
        << qPrintable(executor.connectError());
    EXPECT_EQ(executor.ultimo_resultado(), u"0"_s);
    EXPECT_FALSE(QFile::exists(m_eddb + u".nueva"_s));
}

TEST_F(EmbeddedExecutor, AfterTheTickCommitTheNextStatementStartsANewTransactionOnTheSameConnection) {
    ASSERT_TRUE(executor.consultar(u"select current_connection from rdb$database"_s));
    const QString connection = executor.ultimo_resultado();
    ASSERT_TRUE(executor.consultar(u"select current_transaction from rdb$database"_s));
    const QString transaction = executor.ultimo_resultado();
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"P01"_s}));

    StatementExecutor& tick = executor; // as the writer commits it
    tick.commit();
    EXPECT_FALSE(tick.isActive());
    EXPECT_TRUE(executor.isOpen());
    EXPECT_EQ(readBack(m_eddb, u"select count(*) from paquetes"_s), u"1"_s);

    ASSERT_TRUE(executor.consultar(u"select current_transaction from rdb$database"_s));
    EXPECT_NE(executor.ultimo_resultado(), transaction);
    EXPECT_TRUE(tick.isActive());
    ASSERT_TRUE(executor.consultar(u"select current_connection from rdb$database"_s));
    EXPECT_EQ(executor.ultimo_resultado(), connection);
}

TEST_F(EmbeddedExecutor, QueriesKeepTheFirstColumnOfTheLastRow) {
    for (const char16_t* plaza : {u"A", u"B", u"C"})
        ASSERT_TRUE(executor.consultar(kInsertPlaza, {QString::fromUtf16(plaza)}));

    // Lower case after two blanks is still a query.
    ASSERT_TRUE(executor.consultar(u"  select count(*) from paquetes"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"3"_s);
    EXPECT_FALSE(executor.es_modificacion());

    ASSERT_TRUE(executor.consultar(u"select plaza, id from paquetes order by id"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"C"_s);

    ASSERT_TRUE(executor.consultar(u"select plaza from paquetes where plaza = 'none'"_s));
    EXPECT_EQ(executor.ultimo_resultado(), QString());

    ASSERT_TRUE(executor.consultar(u"select origen from paquetes"_s));
    EXPECT_EQ(executor.ultimo_resultado(), QString()) << "a null column reads as empty text";

    // A modification captures nothing, and a new statement clears what the last one kept.
    ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s));
    ASSERT_TRUE(executor.consultar(u" insert into paquetes(plaza) values ('D');"_s));
    EXPECT_TRUE(executor.es_modificacion());
    EXPECT_EQ(executor.ultimo_resultado(), QString());
}

TEST_F(EmbeddedExecutor, ARefusedStatementKeepsTheClientsTextAndTheConnection) {
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"kept"_s}));
    EXPECT_FALSE(executor.consultar(u"insert into sin_tabla values (1)"_s));
    EXPECT_TRUE(executor.ultimo_error().contains(u"Table unknown"_s)) << qPrintable(executor.ultimo_error());
    EXPECT_TRUE(executor.ultimo_error().contains(u"SIN_TABLA"_s));
    EXPECT_TRUE(executor.isOpen());
    EXPECT_TRUE(executor.isActive());

    // Successful statements leave the last error as it was.
    ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"1"_s) << "the transaction was not rolled back";
    EXPECT_TRUE(executor.ultimo_error().contains(u"SIN_TABLA"_s));
}

TEST_F(EmbeddedExecutor, ValuesAreStoredExactlyAsGivenWhateverQuotesTheyHold) {
    const QString tricky = u"O'Brien \"B\"'); delete from paquetes; --"_s;
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"first"_s}));
    ASSERT_TRUE(executor.consultar(u"insert into paquetes(origen) values (?)"_s, {tricky}))
        << qPrintable(executor.ultimo_error());
    ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"2"_s);
    ASSERT_TRUE(executor.consultar(u"select origen from paquetes where origen is not null"_s));
    EXPECT_EQ(executor.ultimo_resultado(), tricky);
}

TEST_F(EmbeddedExecutor, LiteralTextStillTakesDoubleQuotesAsApostrophes) {
    ASSERT_TRUE(executor.consultar(u"insert into paquetes(plaza) values (\"P02\")"_s))
        << qPrintable(executor.ultimo_error());
    EXPECT_EQ(executor.sql_actual(), u"insert into paquetes(plaza) values (\"P02\")"_s);
    ASSERT_TRUE(executor.consultar(u"select plaza from paquetes"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"P02"_s);
}

TEST_F(EmbeddedExecutor, TheTableHoldsTheLongestValuesARowCarries) {
    const QString status = u"Con dim-Sin peso-Sin guía"_s;
    ASSERT_EQ(status.size(), 25);
    const QString group = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"_s;
    const QString address = u"fe80:0000:0000:0000:0204:61ff:fe9d:f156%enp0s31f6"_s;
    const QString camera = QString(200, u'C') + u"ñ"_s;
    ASSERT_TRUE(executor.consultar(
        u"insert into paquetes(plaza, paquete, origen, estatus, peso) values (?,?,?,?,?)"_s,
        {group, group, address, status, 123456789.125}))
        << qPrintable(executor.ultimo_error());
    ASSERT_TRUE(
        executor.consultar(u"insert into paquetes(origen, estatus) values (?,?)"_s, {camera, u"Ω"_s}));
    executor.commit();

    EXPECT_EQ(readBack(m_eddb, u"select plaza from paquetes where peso is not null"_s), group);
    EXPECT_EQ(readBack(m_eddb, u"select paquete from paquetes where peso is not null"_s), group);
    EXPECT_EQ(readBack(m_eddb, u"select origen from paquetes where peso is not null"_s), address);
    EXPECT_EQ(readBack(m_eddb, u"select estatus from paquetes where peso is not null"_s), status);
    EXPECT_EQ(readBack(m_eddb, u"select peso from paquetes where peso is not null"_s).toDouble(),
              123456789.125);
    EXPECT_EQ(readBack(m_eddb, u"select origen from paquetes where peso is null"_s), camera);
    EXPECT_EQ(readBack(m_eddb, u"select estatus from paquetes where peso is null"_s), u"?"_s)
        << "what windows-1252 cannot hold arrives as ?";
}

TEST_F(EmbeddedExecutor, ADatabaseFileDeletedUnderTheConnectionIsReportedAtTheCommitAndCreatedAgain) {
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"P01"_s})) << qPrintable(executor.ultimo_error());
    executor.commit();
    ASSERT_TRUE(QFile::remove(m_eddb));
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"P02"_s})) << qPrintable(executor.ultimo_error());

    try {
        executor.commit();
        ADD_FAILURE() << "the commit said nothing";
    } catch (const base::Error& e) {
        EXPECT_TRUE(e.message().contains(m_eddb)) << qPrintable(e.message());
    }
    EXPECT_FALSE(executor.isOpen());

    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"P03"_s})) << qPrintable(executor.ultimo_error());
    EXPECT_NO_THROW(executor.commit());
    EXPECT_EQ(readBack(m_eddb, u"select list(plaza) from paquetes"_s), u"P03"_s);
}

TEST(StatementExecutorAverage, RunningAverageOfStatementDurations) {
    QTemporaryDir dir;
    ScriptedStopwatch stopwatch({10, 20, 0, 0, 8, 30});
    StatementExecutor executor(stopwatch);
    executor.setDatabaseName(dir.filePath(u"average.fdb"_s));

    const QString query = u"select 1 from rdb$database"_s;
    ASSERT_TRUE(executor.consultar(query));
    EXPECT_DOUBLE_EQ(executor.tiempo_promedio(), 10.0);
    ASSERT_TRUE(executor.consultar(query));
    EXPECT_DOUBLE_EQ(executor.tiempo_promedio(), 15.0);

    // 0 means "nothing taken in yet": a first 0 leaves it there and the next duration replaces it.
    StatementExecutor fresh(stopwatch);
    fresh.setDatabaseName(dir.filePath(u"average.fdb"_s));
    ASSERT_TRUE(fresh.consultar(query));
    ASSERT_TRUE(fresh.consultar(query));
    EXPECT_DOUBLE_EQ(fresh.tiempo_promedio(), 0.0);
    ASSERT_TRUE(fresh.consultar(query));
    EXPECT_DOUBLE_EQ(fresh.tiempo_promedio(), 8.0);

    // A statement the server refuses still moves it.
    EXPECT_FALSE(fresh.consultar(u"select nada from ninguna"_s));
    EXPECT_DOUBLE_EQ(fresh.tiempo_promedio(), 19.0);
}

TEST(StatementExecutorShutdown, ClosingCommitsRowsInsertedAfterTheLastTickCommit) {
    QTemporaryDir dir;
    const QString eddb = dir.filePath(u"shutdown.fdb"_s);
    {
        StatementExecutor executor;
        executor.setDatabaseName(eddb);
        ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"committed"_s}));
        executor.commit();
        ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"pending 1"_s}));
        ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"pending 2"_s}));
    }
    EXPECT_EQ(readBack(eddb, u"select count(*) from paquetes"_s), u"3"_s);
}

TEST(StatementExecutorReconnect, ConectarCommitsClosesAndTakesTheNewName) {
    QTemporaryDir dir;
    const QString first = dir.filePath(u"first.fdb"_s);
    const QString second = dir.filePath(u"second.fdb"_s);
    StatementExecutor executor;
    executor.setDatabaseName(first);
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"one"_s}));

    executor.reconnect(second);
    EXPECT_FALSE(executor.isOpen());
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"two"_s}));
    ASSERT_TRUE(executor.consultar(u"select plaza from paquetes"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"two"_s);
    EXPECT_EQ(readBack(first, u"select plaza from paquetes"_s), u"one"_s);
}

struct NameCase {
    const char16_t* eddb;
    bool local;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << QString::fromUtf16(c.eddb).toStdString();
}

class DatabaseNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DatabaseNameTest, LocalFileOrServer) {
    EXPECT_EQ(storage::isLocalDatabase(QString::fromUtf16(GetParam().eddb)), GetParam().local);
}

INSTANTIATE_TEST_SUITE_P(Eddb, DatabaseNameTest,
                         ::testing::Values(NameCase{u"ROVEZOD30.FDB", true}, NameCase{u"/var/db/x.fdb", true},
                                           NameCase{u"./odd:name.fdb", true},
                                           NameCase{u"localhost:c:\\ROVEZOD30.FDB", false},
                                           NameCase{u"db.example/3051:/srv/x.fdb", false},
                                           NameCase{u"inet://db/x.fdb", false}));

TEST(StatementValue, ReplayTextFillsMarkersOutsideQuotes) {
    EXPECT_EQ(storage::statementWithValues(u"select '?', ? , ?, ? from t where a = ?"_s,
                                           {u"it's"_s, 4.5, 0.0, storage::StatementValue{}}),
              u"select '?', 'it''s' , 4.5, 0 from t where a = NULL"_s);
}

// ---- Against a server of the test's own ----------------------------------------------------------

class ServerExecutor : public ServerSuite<> {
protected:
    void SetUp() override { startWithNewDatabase(u"server"_s, m_eddb); }

    QString count(const QString& eddb) { return readBack(eddb, u"select count(*) from paquetes"_s); }

    QString m_eddb;
};

TEST_F(ServerExecutor, StoresRowsOnTheServerWithTheStationsUserAndPassword) {
    StatementExecutor executor;
    executor.setDatabaseName(m_eddb);
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"P01"_s})) << qPrintable(executor.connectError());
    ASSERT_TRUE(executor.consultar(u"select current_user from rdb$database"_s));
    EXPECT_EQ(executor.ultimo_resultado(), u"SYSDBA"_s);
    executor.commit();
    EXPECT_EQ(count(m_eddb), u"1"_s);
}

TEST_F(ServerExecutor, UnreachableServerAnswersFalseAndLeavesTheLastErrorAlone) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    ScriptedStopwatch stopwatch({5});
    StatementExecutor executor(stopwatch);
    executor.setDatabaseName(m_eddb);
    ASSERT_FALSE(executor.consultar(u"select nada from ninguna"_s));
    const QString previous = executor.ultimo_error();
    ASSERT_FALSE(previous.isEmpty());

    executor.reconnect(u"127.0.0.1/%1:/nowhere/x.fdb"_s.arg(closedPort));
    EXPECT_FALSE(executor.consultar(kInsertPlaza, {u"lost"_s}));
    EXPECT_EQ(executor.ultimo_error(), previous);
    EXPECT_FALSE(executor.isOpen());
    EXPECT_EQ(stopwatch.restarts(), 1) << "no duration is taken in without a connection";
    EXPECT_DOUBLE_EQ(executor.tiempo_promedio(), 5.0);
    EXPECT_TRUE(executor.connectError().contains(u"Unable to complete network request to host"_s))
        << qPrintable(executor.connectError());
}

TEST_F(ServerExecutor, ALostServerIsLeftAndTheStatementsAfterItConnectAgain) {
    StatementExecutor executor;
    executor.setDatabaseName(m_eddb);
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"committed"_s}));
    executor.commit();
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"in the open transaction"_s}));

    s_server->kill();
    EXPECT_FALSE(executor.consultar(kInsertPlaza, {u"while down"_s}));
    // The client's words for it say nothing of "Unable to complete"; its status code does.
    EXPECT_FALSE(executor.ultimo_error().isEmpty());
    EXPECT_FALSE(executor.ultimo_error().contains(u"Unable to complete"_s, Qt::CaseInsensitive))
        << qPrintable(executor.ultimo_error());
    EXPECT_FALSE(executor.isOpen()) << qPrintable(executor.ultimo_error());
    EXPECT_FALSE(executor.consultar(kInsertPlaza, {u"still down"_s}));

    ASSERT_TRUE(s_server->start()) << qPrintable(s_server->error());
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"after restart"_s}))
        << qPrintable(executor.ultimo_error());
    executor.commit();
    EXPECT_EQ(count(m_eddb), u"2"_s);
    EXPECT_EQ(readBack(m_eddb, u"select plaza from paquetes order by id"_s), u"after restart"_s);
}

TEST_F(ServerExecutor, AServerLostBetweenTickCommitsIsReconnectedByTheNextStatement) {
    StatementExecutor executor;
    executor.setDatabaseName(m_eddb);
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"before"_s}));
    executor.commit();

    s_server->kill();
    ASSERT_TRUE(s_server->start()) << qPrintable(s_server->error());
    EXPECT_TRUE(executor.consultar(kInsertPlaza, {u"after"_s})) << qPrintable(executor.ultimo_error());
    executor.commit();
    EXPECT_EQ(count(m_eddb), u"2"_s);
}

TEST_F(ServerExecutor, ACommitThatCannotReachTheServerRaisesAndLetsTheNextStatementReconnect) {
    StatementExecutor executor;
    executor.setDatabaseName(m_eddb);
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"lost with the server"_s}));

    s_server->kill();
    EXPECT_THAT([&] { executor.commit(); }, ::testing::Throws<storage::FirebirdError>(::testing::Property(
                                                &storage::FirebirdError::isLostConnection, true)));
    EXPECT_FALSE(executor.isOpen());

    ASSERT_TRUE(s_server->start()) << qPrintable(s_server->error());
    ASSERT_TRUE(executor.consultar(kInsertPlaza, {u"stored"_s}));
    executor.release();
    EXPECT_EQ(count(m_eddb), u"1"_s);
}

} // namespace
