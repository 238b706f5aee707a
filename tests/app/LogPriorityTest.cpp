#include "app/JournalStream.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "tests/support/FreePort.h"
#include "tests/support/SampleLines.h"
#include "tests/support/StationEnvironment.h"
#include "tests/support/StationProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 60000;

// A message of several lines (a database's error text) becomes as many journal entries, each
// with the priority; without the journal the text is left as it is.
TEST(JournalLinesTest, EveryLineCarriesThePriority) {
    const QString text = u"Fallo\nsegunda l\u00ednea"_s;
    EXPECT_EQ(app::journalLines(text, base::Priority::Error, true), "<3>Fallo\n<3>segunda l\xc3\xadnea\n");
    EXPECT_EQ(app::journalLines(text, base::Priority::Warning, false), "Fallo\nsegunda l\xc3\xadnea\n");
    EXPECT_EQ(app::journalLines(u"listo\n"_s, base::Priority::Notice, true), "<5>listo\n");
}

enum class Stream {
    Journal,     // JOURNAL_STREAM names the very file the error output goes to
    OtherStream, // it names another one: the error output was redirected away from the journal
    None,        // no journal at all
};

void PrintTo(Stream s, std::ostream* os) {
    *os << (s == Stream::Journal ? "Journal" : s == Stream::OtherStream ? "OtherStream" : "None");
}

// The headless station with its error output in a file, and one report of each priority: a
// serial port that is not there (error), a stored total that is no count and an unknown command
// (warnings), the database made at the first row (notice) and where the metrics are (the rest).
class LogPriority : public ::testing::TestWithParam<Stream> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        ASSERT_TRUE(m_config.isValid());
        m_port = testsupport::freePort();
        testsupport::storeStationSettings(m_config.path(), {{u"Edpuerto_Text"_s, QString::number(m_port)},
                                                            {u"Lbuenos_Caption"_s, u"muchos"_s}});
        config::SettingsStore store(m_config.filePath(u"Tarvenix/OrvaneDB.reg"_s));
        store.load();
        store.writeInteger(station::FormStorage::kKey, u"ApdComPort1_ComNumber"_s, 3);
        store.save();
        ASSERT_TRUE(QDir().mkpath(m_config.filePath(u"Tarvenix/dosdevices"_s)));
        ASSERT_TRUE(QFile::link(u"/nonexistent/tty"_s, m_config.filePath(u"Tarvenix/dosdevices/com3"_s)));

        m_errFile = m_work.filePath(u"stderr"_s);
        QFile created(m_errFile);
        ASSERT_TRUE(created.open(QIODevice::WriteOnly));
        created.close();
        QProcessEnvironment environment = testsupport::stationEnvironment(m_config.path());
        if (GetParam() != Stream::None) {
            // The station's error output is opened on this file: the same device and inode.
            struct stat status {};
            ASSERT_EQ(::stat(QFile::encodeName(m_errFile).constData(), &status), 0);
            const auto inode = qulonglong(status.st_ino) + (GetParam() == Stream::OtherStream ? 1 : 0);
            environment.insert(u"JOURNAL_STREAM"_s, u"%1:%2"_s.arg(qulonglong(status.st_dev)).arg(inode));
        }
        m_station.setProcessEnvironment(environment);
        m_station.setWorkingDirectory(m_work.path());
        m_station.setProgram(QString::fromUtf8(ORVANEDB_PATH));
        m_station.setArguments({u"--console"_s, u"--metrics"_s, u"127.0.0.1:0"_s});
        m_station.setStandardErrorFile(m_errFile);
    }

    QString errors() const {
        QFile file(m_errFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Waits until the error output holds `text`.
    bool errorsContain(const QString& text) const {
        const QDeadlineTimer deadline(kWaitMs);
        while (!errors().contains(text)) {
            if (deadline.hasExpired() || m_station.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(20);
        }
        return true;
    }

    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QString m_errFile;
    quint16 m_port = 0;
    testsupport::StationProcess m_station;
};

TEST_P(LogPriority, EachErrorLineStartsWithItsPriorityOnlyWhenTheJournalReadsIt) {
    m_station.start();
    ASSERT_TRUE(m_station.waitForStarted(kWaitMs)) << qPrintable(m_station.errorString());
    ASSERT_TRUE(errorsContain(u"se intenta abrirlo de nuevo"_s)) << qPrintable(errors());
    m_station.write("desconocida\n");
    ASSERT_TRUE(m_station.waitForBytesWritten(kWaitMs));
    // The serial port is reported before the devices' port listens: a refused connect is tried again.
    QTcpSocket device;
    const QDeadlineTimer listening(kWaitMs);
    for (;;) {
        device.connectToHost(QHostAddress::LocalHost, m_port);
        if (device.waitForConnected(kWaitMs))
            break;
        ASSERT_FALSE(listening.hasExpired()) << qPrintable(device.errorString());
        device.abort();
        QThread::msleep(20);
    }
    device.write(testsupport::kSampleDeviceLine.toLatin1() + '\n');
    ASSERT_TRUE(device.waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(errorsContain(u"Base de datos creada: "_s)) << qPrintable(errors());
    ASSERT_TRUE(errorsContain(u"Orden desconocida: desconocida"_s)) << qPrintable(errors());
    m_station.terminate();
    ASSERT_TRUE(m_station.waitForFinished(kWaitMs));
    EXPECT_EQ(m_station.exitCode(), 0);

    const QStringList lines = errors().split(u'\n', Qt::SkipEmptyParts);
    const auto line = [&lines](const QString& start) {
        for (const QString& l : lines) {
            if (l.contains(start))
                return l.left(l.indexOf(start) + start.size());
        }
        return QString();
    };
    const bool journal = GetParam() == Stream::Journal;
    const QString error = journal ? u"<3>"_s : QString();
    const QString warning = journal ? u"<4>"_s : QString();
    const QString notice = journal ? u"<5>"_s : QString();
    const QString info = journal ? u"<6>"_s : QString();
    EXPECT_EQ(line(u"No existe el puerto serial COM3"_s), error + u"No existe el puerto serial COM3"_s);
    EXPECT_EQ(line(u"El total guardado Lbuenos"_s), warning + u"El total guardado Lbuenos"_s);
    EXPECT_EQ(line(u"Orden desconocida"_s), warning + u"Orden desconocida"_s);
    EXPECT_EQ(line(u"Base de datos creada"_s), notice + u"Base de datos creada"_s);
    EXPECT_EQ(line(u"M\u00e9tricas en http://127.0.0.1:"_s), info + u"M\u00e9tricas en http://127.0.0.1:"_s);

    static const QRegularExpression prefixed(u"^<[3-6]>[^<]"_s);
    for (const QString& l : lines)
        EXPECT_EQ(prefixed.match(l).hasMatch(), journal) << qPrintable(l);
}

INSTANTIATE_TEST_SUITE_P(Console, LogPriority,
                         ::testing::Values(Stream::Journal, Stream::OtherStream, Stream::None),
                         [](const auto& info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });

} // namespace
