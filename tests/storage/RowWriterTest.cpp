#include "storage/RowWriter.h"

#include "storage/PaquetesTable.h"
#include "storage/RowOutbox.h"
#include "storage/StatementExecutor.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/QueuedSpy.h"
#include "tests/support/ServerSuite.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

using namespace Qt::StringLiterals;
using storage::PendingRow;
using storage::RowWriter;
using storage::StatementExecutor;

namespace {

constexpr int kWaitMs = 30000;

QString readBack(const QString& eddb, const QString& query) {
    StatementExecutor reader;
    reader.setDatabaseName(eddb);
    EXPECT_TRUE(reader.consultar(query)) << qPrintable(reader.ultimo_error());
    return reader.ultimo_resultado();
}

// Row n: plaza "Pn", reading "Ln".
PendingRow row(int n, QDateTime at = QDateTime::currentDateTime()) {
    return {u"L%1"_s.arg(n), std::move(at),
            storage::StatementValues{u"P%1"_s.arg(n), u"CAM-01"_s, u"GUIA%1"_s.arg(n), 12.5, 30.0, 45.5, 4.5,
                                     3.4125, u"Con dim-Con peso-Con gu\u00eda"_s}};
}

// The rows (0) or the rows already there (1) of every rowsStored so far.
template <std::size_t Field> qint64 sum(const QueuedSpy<qint64, qint64>& stored) {
    qint64 total = 0;
    for (const auto& call : stored.calls())
        total += std::get<Field>(call);
    return total;
}

class RowWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        writer.setRetryDelay(std::chrono::milliseconds(100));
    }
    void TearDown() override { writer.stop(); }

    void use(const QString& eddb) {
        m_eddb = eddb;
        writer.setDatabaseName(eddb);
    }
    void hand(int first, int last, const QDateTime& at = QDateTime::currentDateTime()) {
        for (int n = first; n <= last; ++n)
            outbox->append(row(n, at));
        writer.wake();
    }
    bool allConfirmed() {
        return QTest::qWaitFor([&] { return outbox->pendingCount() == 0; }, kWaitMs);
    }
    // The plazas in the order the rows were stored.
    QString plazas() {
        return readBack(m_eddb, u"select list(plaza, ',') from (select plaza from paquetes order by id)"_s);
    }

    QTemporaryDir m_dir;
    QString m_eddb;
    std::shared_ptr<storage::RowOutbox> outbox =
        std::make_shared<storage::RowOutbox>(m_dir.filePath(u"filas.diario"_s));
    RowWriter writer{outbox};
};

TEST_F(RowWriterTest, RowsGoInOrderAndLeaveTheOutboxOnceCommitted) {
    use(m_dir.filePath(u"station.fdb"_s));
    QueuedSpy<qint64, qint64> stored(&writer, &RowWriter::rowsStored);
    writer.start();
    hand(1, 3);
    // Nobody asks for the commit: rows are never left waiting for the next parcel.
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(plazas(), u"P1,P2,P3"_s);
    EXPECT_EQ(readBack(m_eddb,
                       u"select list(id_lectura, ',') from (select id_lectura from paquetes order by id)"_s),
              u"L1,L2,L3"_s);
    // A row that goes at once keeps the server's clock.
    EXPECT_EQ(
        readBack(m_eddb, u"select count(*) from paquetes where ano = extract(year from current_date)"_s),
        u"3"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sum<0>(stored) == 3; }, kWaitMs)) << sum<0>(stored);
    EXPECT_TRUE(writer.stop());
}

// A mistyped local name still gets the rows, in a database made for them, and the operator is told
// once where that is.
TEST_F(RowWriterTest, TellsOnceOfALocalDatabaseItHadToMake) {
    use(m_dir.filePath(u"mal-escrita.fdb"_s));
    QueuedSpy<QString> created(&writer, &RowWriter::databaseCreated);
    writer.start();
    hand(1, 1);
    ASSERT_TRUE(allConfirmed());
    writer.setDatabaseName(m_eddb); // the next row connects again, to the file now there
    hand(2, 2);
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(plazas(), u"P1,P2"_s);
    ASSERT_EQ(created.calls().size(), 1u);
    EXPECT_EQ(std::get<0>(created.calls()[0]), QFileInfo(m_eddb).absoluteFilePath());
}

TEST_F(RowWriterTest, ARowTheDatabaseAlreadyHasIsNotStoredTwice) {
    use(m_dir.filePath(u"station.fdb"_s));
    writer.start();
    hand(1, 2);
    ASSERT_TRUE(allConfirmed());
    // As after a commit whose answer never came: the same rows again.
    QueuedSpy<qint64, qint64> stored(&writer, &RowWriter::rowsStored);
    hand(1, 3);
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(plazas(), u"P1,P2,P3"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sum<0>(stored) == 3; }, kWaitMs)) << sum<0>(stored);
    EXPECT_EQ(sum<1>(stored), 2) << "rows the database already had";
}

TEST_F(RowWriterTest, ARefusedRowIsToldOnceAndTheOthersAreStored) {
    use(m_dir.filePath(u"station.fdb"_s));
    QueuedSpy<const PendingRow&, const QString&, const QString&> refused(&writer, &RowWriter::rowRefused);
    writer.start();
    hand(1, 1);
    PendingRow tooLong = row(2);
    tooLong.values[0] = QString(40, u'X'); // the plaza takes 32
    outbox->append(tooLong);
    hand(3, 3);
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(plazas(), u"P1,P3"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return refused.size() == 1; }, kWaitMs));
    const auto& [row, statement, error] = refused.at(0);
    EXPECT_EQ(row, tooLong);
    EXPECT_TRUE(statement.contains(u"'XXXXXXXXXX"_s));
    EXPECT_TRUE(error.contains(u"truncation"_s, Qt::CaseInsensitive)) << qPrintable(error);
}

TEST_F(RowWriterTest, ATableMadeBeforeReadingIdentitiesGetsThem) {
    use(m_dir.filePath(u"older.fdb"_s));
    {
        StatementExecutor executor;
        executor.setDatabaseName(m_eddb);
        ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s));
        ASSERT_TRUE(executor.consultar(u"drop index paquetes_lectura"_s))
            << qPrintable(executor.ultimo_error());
        executor.commit();
        ASSERT_TRUE(executor.consultar(u"alter table paquetes drop id_lectura"_s))
            << qPrintable(executor.ultimo_error());
        executor.commit();
        ASSERT_TRUE(executor.consultar(u"insert into paquetes (plaza) values ('antes')"_s));
        executor.commit();
    }
    writer.start();
    hand(1, 2);
    ASSERT_TRUE(allConfirmed());
    hand(2, 2);
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(plazas(), u"antes,P1,P2"_s);
    EXPECT_EQ(
        readBack(m_eddb, u"select count(*) from rdb$indices where rdb$index_name = 'PAQUETES_LECTURA'"_s),
        u"1"_s);
}

// ---- Against a server of the test's own ----------------------------------------------------------

class ServerRowWriter : public ServerSuite<RowWriterTest> {
protected:
    void SetUp() override {
        RowWriterTest::SetUp();
        QString eddb;
        startWithNewDatabase(u"writer"_s, eddb);
        use(eddb);
    }
};

// A backlog goes to a server in blocks of rows: each row still stored once, in order, as it
// would be alone.
TEST_F(ServerRowWriter, ABacklogStoresEveryRowOnceInOrderWhateverSomeOfItMeet) {
    // Rows, distinct rows, and pairs stored out of their order.
    const auto shape = [&] {
        return readBack(m_eddb, u"select count(*) from paquetes"_s) + u'/' +
               readBack(m_eddb, u"select count(distinct plaza) from paquetes"_s) + u'/' +
               readBack(m_eddb, u"select count(*) from paquetes a join paquetes b on a.id < b.id where "
                                u"cast(substring(a.plaza from 2) as integer) > "
                                u"cast(substring(b.plaza from 2) as integer)"_s);
    };
    QueuedSpy<qint64, qint64> stored(&writer, &RowWriter::rowsStored);
    QueuedSpy<const PendingRow&, const QString&, const QString&> refused(&writer, &RowWriter::rowRefused);
    writer.start();
    hand(1, 40);
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(shape(), u"40/40/0"_s);
    // Each as a row that goes at once stores it: the server's clock, the reading's identity.
    EXPECT_EQ(readBack(m_eddb, u"select count(*) from paquetes where ano = extract(year from current_date) "
                               u"and momento is not null and id_lectura = 'L' || substring(plaza from 2)"_s),
              u"40"_s);

    // Rows the database has already, a row it refuses, and new rows, in one backlog.
    for (int n = 1; n <= 20; ++n)
        outbox->append(row(n));
    PendingRow tooLong = row(41);
    tooLong.values[0] = QString(40, u'X');
    outbox->append(tooLong);
    hand(42, 60);
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(shape(), u"59/59/0"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sum<0>(stored) == 40 + 20 + 19; }, kWaitMs)) << sum<0>(stored);
    EXPECT_EQ(sum<1>(stored), 20) << "rows the database already had";
    ASSERT_TRUE(QTest::qWaitFor([&] { return refused.size() == 1; }, kWaitMs));
    EXPECT_EQ(std::get<0>(refused.at(0)), tooLong);
}

// What the writer's thread would say behind the station's back; only the connection's loss, told
// once through its signal, is for the operator.
std::mutex g_warningsMutex;
QStringList g_warnings;
void keepWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const std::lock_guard lock(g_warningsMutex);
    if (type == QtWarningMsg)
        g_warnings << message;
}

TEST_F(ServerRowWriter, AServerKilledWithRowsInTheOpenTransactionLosesNone) {
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    QueuedSpy<const QString&> lost(&writer, &RowWriter::connectionLost);
    QueuedSpy<> back(&writer, &RowWriter::connectionBack);
    writer.start();
    hand(1, 5);
    ASSERT_TRUE(allConfirmed());
    hand(6, 15);
    s_server->kill();
    hand(16, 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.isEmpty(); }, kWaitMs));
    EXPECT_GT(outbox->pendingCount(), 0);
    ASSERT_TRUE(s_server->start()) << qPrintable(s_server->error());
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(readBack(m_eddb, u"select count(distinct plaza) || '/' || count(*) from paquetes"_s),
              u"20/20"_s);
    // In the order they were handed over: no later row before an earlier one.
    EXPECT_EQ(readBack(m_eddb,
                       u"select count(*) from paquetes a join paquetes b on a.id < b.id where "
                       "cast(substring(a.plaza from 2) as int) > cast(substring(b.plaza from 2) as int)"_s),
              u"0"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !back.isEmpty(); }, kWaitMs));
    const std::lock_guard lock(g_warningsMutex);
    EXPECT_TRUE(g_warnings.isEmpty()) << qPrintable(g_warnings.join(u'\n'));
}

TEST_F(ServerRowWriter, RowsThatWaitedForTheServerKeepTheMomentTheyWereProcessed) {
    s_server->kill();
    QueuedSpy<const QString&> lost(&writer, &RowWriter::connectionLost);
    writer.start();
    const QDateTime processed(QDate(2023, 6, 1), QTime(3, 15, 42, 250));
    hand(1, 2, processed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.isEmpty(); }, kWaitMs));
    EXPECT_FALSE(std::get<0>(lost.at(0)).isEmpty()) << "the connection's own error";
    EXPECT_EQ(outbox->pendingCount(), 2);
    ASSERT_TRUE(s_server->start()) << qPrintable(s_server->error());
    ASSERT_TRUE(allConfirmed());
    EXPECT_EQ(readBack(m_eddb, u"select count(*) from paquetes where ano = 2023 and mes = 6 and dia = 1 and "
                               "hora = 3 and momento = '03:15:42.250'"_s),
              u"2"_s);
}

// A server that takes the connection and never answers: the connect gives up at its limit, the
// close does not wait for it, and the rows stay for the next start.
TEST_F(ServerRowWriter, AServerThatNeverAnswersHoldsNothingUp) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const QString stored = m_eddb;
    use(u"127.0.0.1/%1:/nada.fdb"_s.arg(silent.serverPort()));
    QueuedSpy<const QString&> lost(&writer, &RowWriter::connectionLost);
    writer.start();
    hand(1, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.isEmpty(); },
                                (StatementExecutor::kConnectTimeoutSeconds + 10) * 1000));

    // Into the next connect, then the close.
    QElapsedTimer closing;
    closing.start();
    EXPECT_FALSE(writer.stop(std::chrono::milliseconds(1000)));
    EXPECT_LT(closing.elapsed(), 5000);
    EXPECT_EQ(outbox->pendingCount(), 3);

    RowWriter next(outbox);
    next.setDatabaseName(stored);
    next.start();
    ASSERT_TRUE(allConfirmed());
    m_eddb = stored;
    EXPECT_EQ(plazas(), u"P1,P2,P3"_s);
    next.stop();
}

} // namespace
