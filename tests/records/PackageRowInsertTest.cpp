#include "records/PackageRowInsert.h"

#include "base/CodePage.h"
#include "base/Error.h"
#include "station/LivePanel.h"
#include "storage/FileStamp.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"
#include "storage/StatementExecutor.h"
#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/QueuedSpy.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

using namespace Qt::StringLiterals;
using records::PackageRowInsert;
using station::Field;

namespace {

const QString kStatus = u"Con dim-Con peso-Con guía"_s;
constexpr int kWaitMs = 20000;

class PackageRowInsertTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_previousDir = QDir::currentPath();
        // Numbers are read with "." as the decimal point whatever the machine's locale.
        QLocale::setDefault(QLocale::c());
        // Dump files land in the working directory.
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        m_eddb = m_dir.filePath(u"ROVEZOD30.FDB"_s);
        writer.setDatabaseName(m_eddb);
        // As the station does: a refused row comes back to the row insert.
        QObject::connect(&writer, &storage::RowWriter::rowRefused, &writer,
                         [this](const storage::PendingRow&, const QString& statement, const QString& error) {
                             insert.refused(statement, error);
                         });
        writer.start();
        fillTypicalParcel();
    }
    void TearDown() override {
        writer.stop();
        QDir::setCurrent(m_previousDir);
    }

    // The panel as the record processor leaves it for a typical device line.
    void fillTypicalParcel() {
        panel.setText(Field::lplaza, u"P01"_s);
        panel.setText(Field::Lorigen, u"CAM-01"_s);
        panel.setText(Field::LC128, u"GUIA0001ZXWV0002TSRQ0003"_s);
        panel.setText(Field::Lhhh, u"012.5"_s);
        panel.setText(Field::llll, u"030.0"_s);
        panel.setText(Field::lwww, u"045.5"_s);
        panel.setText(Field::lpeso, u"4.5"_s);
        panel.setText(Field::lpesov, u"3.4125"_s);
    }

    // Hands the row over and waits until the database has confirmed it (or refused it).
    void store(const QString& estatus = kStatus) {
        insert.insertar(estatus);
        writer.requestCommit();
        ASSERT_TRUE(QTest::qWaitFor([&] { return outbox->pendingCount() == 0; }, kWaitMs));
        QCoreApplication::processEvents();
    }

    QString column(const QString& name) {
        storage::StatementExecutor reader;
        reader.setDatabaseName(m_eddb);
        EXPECT_TRUE(reader.consultar(u"select "_s + name + u" from paquetes"_s))
            << qPrintable(reader.ultimo_error());
        return reader.ultimo_resultado();
    }

    // Takes the table away, so that the next insert is refused.
    void dropTable() {
        storage::StatementExecutor executor;
        executor.setDatabaseName(m_eddb);
        ASSERT_TRUE(executor.consultar(u"select count(*) from paquetes"_s));
        ASSERT_TRUE(executor.consultar(u"drop table paquetes"_s)) << qPrintable(executor.ultimo_error());
        executor.commit();
    }

    static QByteArray contents(const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_dir;
    QString m_previousDir;
    QString m_eddb;
    station::LivePanel panel;
    std::shared_ptr<storage::RowOutbox> outbox =
        std::make_shared<storage::RowOutbox>(m_dir.filePath(u"filas.diario"_s));
    storage::RowWriter writer{outbox};
    base::LineId line{0xABCDEFu, 41};
    storage::FileCounter counter;
    FakeClock clock; // 5 January 2024, 14:37
    PackageRowInsert insert{panel, *outbox, writer, [this] { return line; }, counter, clock};
};

TEST_F(PackageRowInsertTest, ATypicalParcelIsStoredColumnByColumn) {
    store();
    EXPECT_EQ(insert.tiempoPromedio(), writer.tiempoPromedio());

    EXPECT_EQ(column(u"plaza"_s), u"P01"_s);
    EXPECT_EQ(column(u"origen"_s), u"CAM-01"_s);
    EXPECT_EQ(column(u"paquete"_s), u"GUIA0001ZXWV0002TSRQ0003"_s);
    EXPECT_EQ(column(u"longitud"_s).toDouble(), 12.5);
    EXPECT_EQ(column(u"altura"_s).toDouble(), 30.0);
    EXPECT_EQ(column(u"profundidad"_s).toDouble(), 45.5);
    EXPECT_EQ(column(u"peso"_s).toDouble(), 4.5);
    EXPECT_EQ(column(u"pesovolumen"_s).toDouble(), 3.4125);
    EXPECT_EQ(column(u"estatus"_s), kStatus);
    // Date and time come from the server's clock, not the station's.
    storage::StatementExecutor reader;
    reader.setDatabaseName(m_eddb);
    ASSERT_TRUE(
        reader.consultar(u"select count(*) from paquetes where ano = extract(year from current_date) and "
                         "mes = extract(month from current_date) and dia = extract(day from current_date) "
                         "and hora = extract(hour from momento)"_s));
    EXPECT_EQ(reader.ultimo_resultado(), u"1"_s);
    EXPECT_FALSE(column(u"momento"_s).isEmpty());
    EXPECT_EQ(column(u"id_lectura"_s), u"0000000000abcdef0000000000000029"_s);
    EXPECT_TRUE(counter.value() == 0 && !QFile::exists(u"Query-fallido-05012024-14-01.txt"_s));
}

// A line may hold more than one record; each row keeps an identity of its own, and the same line
// worked again after a crash gives the same identities.
TEST_F(PackageRowInsertTest, EveryRecordOfALineHasItsOwnReadingIdentity) {
    EXPECT_EQ(insert.lectura(), line.text());
    EXPECT_EQ(insert.lectura(), line.text() + u"-1"_s);
    line.sequence = 42;
    EXPECT_EQ(insert.lectura(), line.text());
}

TEST_F(PackageRowInsertTest, QuotesInTextsAreStoredAsRead) {
    panel.setText(Field::lplaza, u"P'0\"1"_s);
    panel.setText(Field::Lorigen, u"CAM \"A\" 'B'); delete from paquetes; --"_s);
    panel.setText(Field::LC128, u"GUIA'\"'"_s);
    store();
    EXPECT_EQ(column(u"plaza"_s), u"P'0\"1"_s);
    EXPECT_EQ(column(u"origen"_s), u"CAM \"A\" 'B'); delete from paquetes; --"_s);
    EXPECT_EQ(column(u"paquete"_s), u"GUIA'\"'"_s);
}

struct NumberCase {
    const char16_t* shown;
    double stored;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << '"' << QString::fromUtf16(c.shown).toStdString() << '"';
}

class NumberTextTest : public PackageRowInsertTest, public ::testing::WithParamInterface<NumberCase> {};

// Texts the number test lets through that are no number still give a row, with 0 in their place.
TEST_P(NumberTextTest, WeightIsStoredAsItsNumberOrZero) {
    panel.setText(Field::lpeso, QString::fromUtf16(GetParam().shown));
    store();
    EXPECT_EQ(column(u"peso"_s).toDouble(), GetParam().stored);
    EXPECT_EQ(column(u"plaza"_s), u"P01"_s);
}

INSTANTIATE_TEST_SUITE_P(Peso, NumberTextTest,
                         ::testing::Values(NumberCase{u"1,5", 1.5}, NumberCase{u"-", 0.0},
                                           NumberCase{u"E", 0.0}, NumberCase{u"1,,5", 0.0},
                                           NumberCase{u"-3", -3.0}, NumberCase{u"1E5", 100000.0},
                                           NumberCase{u"012", 12.0}, NumberCase{u"0", 0.0}));

TEST_F(PackageRowInsertTest, ARecordWithoutGroupStoresThePlaceholders) {
    panel.setText(Field::lplaza, u"???"_s);
    panel.setText(Field::lpeso, u"0"_s);
    store(u"Con dim-Sin peso-Con guía"_s);
    EXPECT_EQ(column(u"plaza"_s), u"???"_s);
    EXPECT_EQ(column(u"peso"_s).toDouble(), 0.0);
}

TEST_F(PackageRowInsertTest, ARefusedRowIsShownAndLeftInADumpWithItsValues) {
    dropTable();
    QueuedSpy<const storage::PendingRow&, const QString&, const QString&> refused(
        &writer, &storage::RowWriter::rowRefused);
    store();
    ASSERT_EQ(refused.size(), 1);
    const QString error = std::get<2>(refused.at(0));
    ASSERT_TRUE(error.contains(u"PAQUETES"_s)) << qPrintable(error);
    EXPECT_EQ(panel.text(Field::Label54), error);

    const QString expectedRow =
        u" insert into paquetes(plaza,origen,paquete,momento,longitud,altura,profundidad,peso,pesovolumen,"
        "estatus,ano,mes,dia,hora)    values ('P01','CAM-01','GUIA0001ZXWV0002TSRQ0003',current_time,12.5,30,"
        "45.5,4.5,3.4125,'Con dim-Con peso-Con guía',extract(year from current_date),extract(month from "
        "current_date),extract(day from current_date),extract(hour from current_time));"_s;
    QString firstLine = error;
    firstLine.replace(u"\n"_s, u"\r\n"_s);
    EXPECT_EQ(contents(u"Query-fallido-05012024-14-01.txt"_s),
              base::codepage::narrow(firstLine + u"\r\n"_s + expectedRow + u"\r\n"_s));

    // The next refusal in the same hour takes the next name.
    ++line.sequence;
    store();
    EXPECT_TRUE(QFile::exists(u"Query-fallido-05012024-14-02.txt"_s));
}

TEST_F(PackageRowInsertTest, ADumpNameThatComesRoundAgainIsAppendedTo) {
    for (int i = 0; i < 99; ++i)
        counter.advance();
    {
        QFile earlier(u"Query-fallido-05012024-14-00.txt"_s);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier refusal\r\n");
    }
    insert.refused(u"insert ... 'GUIA0001ZXWV0002TSRQ0003'"_s, u"refused"_s);
    EXPECT_EQ(counter.value(), 0) << "99 is followed by 00";
    const QByteArray dump = contents(u"Query-fallido-05012024-14-00.txt"_s);
    EXPECT_TRUE(dump.startsWith("earlier refusal\r\n")) << dump.constData();
    EXPECT_TRUE(dump.contains("'GUIA0001ZXWV0002TSRQ0003'")) << dump.constData();
}

TEST_F(PackageRowInsertTest, ADumpThatCannotBeWrittenIsRaised) {
    ASSERT_TRUE(QDir().mkdir(u"Query-fallido-05012024-14-01.txt"_s));
    EXPECT_THAT([&] { insert.refused(u"insert"_s, u"refused"_s); },
                ThrowsMessage<base::Error>(HasSubstr("Query-fallido-05012024-14-01.txt")));
}

} // namespace
