#include "storage/RawLogFiles.h"

#include "base/Error.h"
#include "base/ErrorReport.h"
#include "config/Settings.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "storage/FileStamp.h"
#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;
using storage::RawLogFiles;

namespace {

const QDateTime kStart(QDate(2024, 1, 5), QTime(14, 37)); // FakeClock's own start

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

bool makeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// Every save runs in a working directory of its own, as the station resolves its relative folders
// against the working directory.
class RawLogFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    }
    void TearDown() override { QDir::setCurrent(m_previousDir); }

    void fill(station::RawLog& log, const QStringList& entries) {
        for (const QString& entry : entries)
            log.append(entry);
    }

    const QString m_previousDir = QDir::currentPath();
    QTemporaryDir m_dir;
    station::RawLog logRS232;
    station::RawLog logEthernet;
    config::Settings settings;
    station::LivePanel panel;
    FakeClock clock{kStart};
    storage::FileCounter counter;
    base::ErrorReport errors;
    RawLogFiles files{logRS232, logEthernet, settings, panel, clock, counter, errors};
};

TEST_F(RawLogFilesTest, FirstPeriodicSaveWritesBothListsUnderTheBaseFolderAtOnce) {
    fill(logEthernet, {u"e1"_s});
    fill(logRS232, {u"s1"_s, u"s2"_s});

    files.grabar_logs();

    EXPECT_EQ(filesIn(u"Datos Orvane/Ethernet"_s), QStringList{u"05012024-143701.txt"_s});
    EXPECT_EQ(bytesOf(u"Datos Orvane/Ethernet/05012024-143701.txt"_s), "e1\r\n");
    EXPECT_EQ(filesIn(u"Datos Orvane/RS232"_s), QStringList{u"05012024-143703.txt"_s});
    EXPECT_EQ(bytesOf(u"Datos Orvane/RS232/05012024-143703.txt"_s), "s1\r\ns2\r\n");
    // Each label shows a stem one count ahead of its file.
    EXPECT_EQ(panel.text(Field::LULE), u"05012024-143702"_s);
    EXPECT_EQ(panel.text(Field::LULR), u"05012024-143704"_s);
    EXPECT_EQ(counter.value(), 4);
    EXPECT_TRUE(logEthernet.isEmpty());
    EXPECT_TRUE(logRS232.isEmpty());
    EXPECT_EQ(files.ultimo_guardado(), kStart);
    EXPECT_FALSE(QDir(u"Ethernet"_s).exists());
}

TEST_F(RawLogFilesTest, PeriodicSaveWithBothListsEmptyMakesFoldersAndMovesOnlyTheTime) {
    const QString label = panel.text(Field::LULR);
    files.grabar_logs();

    EXPECT_TRUE(QDir(u"Datos Orvane/Ethernet"_s).exists());
    EXPECT_TRUE(QDir(u"Datos Orvane/RS232"_s).exists());
    EXPECT_TRUE(filesIn(u"Datos Orvane/Ethernet"_s).isEmpty());
    EXPECT_TRUE(filesIn(u"Datos Orvane/RS232"_s).isEmpty());
    EXPECT_EQ(counter.value(), 0);
    EXPECT_EQ(panel.text(Field::LULR), label);
    EXPECT_EQ(files.ultimo_guardado(), kStart);
}

struct IntervalCase {
    const char* name;
    double gcm;
    qint64 msecsAfterLastSave; // negative: the clock was set back
    bool writes;
};

class PeriodicInterval : public RawLogFilesTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(PeriodicInterval, WritesOnlyOnceTheIntervalHasPassed) {
    const IntervalCase& c = GetParam();
    settings.setReal(SettingId::Gcm, c.gcm);
    files.grabar_logs(); // the first save of a run always passes

    clock.set(kStart.addMSecs(c.msecsAfterLastSave));
    fill(logRS232, {u"r"_s});
    files.grabar_logs();

    EXPECT_EQ(logRS232.isEmpty(), c.writes);
    EXPECT_EQ(filesIn(u"Datos Orvane/RS232"_s).size(), c.writes ? 1 : 0);
    EXPECT_EQ(files.ultimo_guardado(), c.writes ? clock.now() : kStart);
}

INSTANTIATE_TEST_SUITE_P(RawLogFiles, PeriodicInterval,
                         ::testing::Values(IntervalCase{"Gcm10At599s", 10, 599'000, false},
                                           IntervalCase{"Gcm10At599sAndAFraction", 10, 599'999, false},
                                           IntervalCase{"Gcm10At600s", 10, 600'000, true},
                                           IntervalCase{"Gcm1At59s", 1, 59'000, false},
                                           IntervalCase{"Gcm1At60s", 1, 60'000, true},
                                           IntervalCase{"Gcm150At9000s", 150, 9'000'000, true},
                                           IntervalCase{"ClockBack599s", 10, -599'000, false},
                                           IntervalCase{"ClockBack600s", 10, -600'000, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StemCase {
    const char* name;
    int counterBefore;
    const char16_t* file;
    const char16_t* label;
};

class Stems : public RawLogFilesTest, public ::testing::WithParamInterface<StemCase> {};

TEST_P(Stems, FileAndLabelTakeTheNextTwoCounts) {
    const StemCase& c = GetParam();
    clock.set(QDateTime(QDate(2007, 2, 3), QTime(9, 5, 59)));
    while (counter.value() != c.counterBefore)
        counter.advance();
    fill(logRS232, {u"r"_s});

    files.grabar_logs();

    EXPECT_EQ(filesIn(u"Datos Orvane/RS232"_s), QStringList{QString::fromUtf16(c.file)});
    EXPECT_EQ(panel.text(Field::LULR), QString::fromUtf16(c.label));
}

INSTANTIATE_TEST_SUITE_P(
    RawLogFiles, Stems,
    ::testing::Values(StemCase{"FirstOfTheRun", 0, u"03022007-090501.txt", u"03022007-090502"},
                      StemCase{"LabelWraps", 98, u"03022007-090599.txt", u"03022007-090500"},
                      StemCase{"FileWraps", 99, u"03022007-090500.txt", u"03022007-090501"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DayCase {
    const char* name;
    QDateTime lastSave;
    QDateTime now;
    int counterAfter;
};

class DayTest : public RawLogFilesTest, public ::testing::WithParamInterface<DayCase> {};

TEST_P(DayTest, CounterStartsAgainOnlyAtTheFirstSaveAfterYesterday) {
    const DayCase& c = GetParam();
    clock.set(c.lastSave);
    fill(logRS232, {u"before"_s});
    files.grabar_logs(); // file 01, label 02

    clock.set(c.now);
    fill(logRS232, {u"after"_s});
    files.grabar_logs();

    // Whatever the day test does, the file just written kept its count.
    const QString stem = storage::dos_digitos(c.now.date().day()) +
                         storage::dos_digitos(c.now.date().month()) + QString::number(c.now.date().year()) +
                         u'-' + storage::dos_digitos(c.now.time().hour()) +
                         storage::dos_digitos(c.now.time().minute());
    EXPECT_TRUE(QFile::exists(u"Datos Orvane/RS232/"_s + stem + u"03.txt"_s));
    EXPECT_EQ(panel.text(Field::LULR), stem + u"04"_s);
    EXPECT_EQ(counter.value(), c.counterAfter);
    EXPECT_EQ(files.ultimo_guardado(), c.now);
}

INSTANTIATE_TEST_SUITE_P(
    RawLogFiles, DayTest,
    ::testing::Values(DayCase{"YesterdayLate", QDateTime(QDate(2024, 3, 4), QTime(23, 55)),
                              QDateTime(QDate(2024, 3, 5), QTime(0, 5)), 0},
                      DayCase{"YesterdayAcrossTheYear", QDateTime(QDate(2023, 12, 31), QTime(8, 0)),
                              QDateTime(QDate(2024, 1, 1), QTime(20, 0)), 0},
                      DayCase{"EarlierToday", QDateTime(QDate(2024, 3, 5), QTime(0, 5)),
                              QDateTime(QDate(2024, 3, 5), QTime(23, 55)), 4},
                      DayCase{"TwoDaysBack", QDateTime(QDate(2024, 3, 3), QTime(23, 55)),
                              QDateTime(QDate(2024, 3, 5), QTime(0, 5)), 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RawLogFilesTest, BaseFolderThatCannotBeMadeIsRaisedOnEveryCall) {
    files.grabar_logs(); // a save inside the interval still checks the folder
    settings.setText(SettingId::EdCarpetaBase, u"no/such/parent"_s);
    fill(logRS232, {u"r"_s});

    for (int call = 0; call < 2; ++call) {
        EXPECT_THAT([&] { files.grabar_logs(); },
                    ThrowsMessage<base::Error>(StrEq("No se puedo crear la carpeta no/such/parent")))
            << "call " << call;
    }
    EXPECT_EQ(logRS232.size(), 1);
    EXPECT_EQ(counter.value(), 0);
}

TEST_F(RawLogFilesTest, PeriodicSaveWithoutItsSubfolderFailsSilentlyAndTriesAgain) {
    ASSERT_TRUE(QDir().mkpath(u"Datos Orvane"_s));
    ASSERT_TRUE(makeFile(u"Datos Orvane/RS232"_s)); // a file where the folder should be
    fill(logEthernet, {u"e"_s});
    fill(logRS232, {u"r"_s});

    EXPECT_NO_THROW(files.grabar_logs());

    // Both folders are checked before anything is written.
    EXPECT_TRUE(filesIn(u"Datos Orvane/Ethernet"_s).isEmpty());
    EXPECT_EQ(logEthernet.size(), 1);
    EXPECT_EQ(logRS232.size(), 1);
    EXPECT_EQ(counter.value(), 0);
    EXPECT_LT(files.ultimo_guardado(), kStart);

    ASSERT_TRUE(QFile::remove(u"Datos Orvane/RS232"_s));
    files.grabar_logs();
    EXPECT_TRUE(logEthernet.isEmpty());
    EXPECT_TRUE(logRS232.isEmpty());
}

TEST_F(RawLogFilesTest, PeriodicSaveThatFailsOnTheSerialFileKeepsOnlyThatList) {
    // A folder in the way of the serial file's name makes its write fail.
    ASSERT_TRUE(QDir().mkpath(u"Datos Orvane/RS232/05012024-143703.txt"_s));
    fill(logEthernet, {u"e"_s});
    fill(logRS232, {u"r"_s});

    EXPECT_NO_THROW(files.grabar_logs());

    EXPECT_TRUE(logEthernet.isEmpty());
    EXPECT_EQ(bytesOf(u"Datos Orvane/Ethernet/05012024-143701.txt"_s), "e\r\n");
    EXPECT_EQ(logRS232.entries(), QStringList{u"r"_s});
    EXPECT_EQ(counter.value(), 3); // the steps taken stay taken
    EXPECT_LT(files.ultimo_guardado(), kStart);

    files.grabar_logs(); // the interval is still open: tried again at once
    EXPECT_TRUE(logRS232.isEmpty());
    EXPECT_EQ(bytesOf(u"Datos Orvane/RS232/05012024-143704.txt"_s), "r\r\n");
    EXPECT_EQ(files.ultimo_guardado(), kStart);
}

TEST_F(RawLogFilesTest, ControlCharactersAndTheCodePageReachTheFileAsTheyAre) {
    fill(logRS232, {u"\u0002201\t3\u0003"_s, u""_s, u"ñ€\u4e00"_s});

    files.grabar_logs();

    // No byte-order mark, CR LF after the last entry too, "?" for what windows-1252 cannot hold.
    EXPECT_EQ(bytesOf(u"Datos Orvane/RS232/05012024-143701.txt"_s),
              QByteArray("\x02"
                         "201\t3\x03\r\n\r\n\xf1\x80?\r\n"));
}

TEST_F(RawLogFilesTest, ManualSaveWritesIntoTheRelativeFoldersOnly) {
    ASSERT_TRUE(QDir().mkdir(u"Ethernet"_s));
    ASSERT_TRUE(QDir().mkdir(u"RS232"_s));
    const QDateTime before = files.ultimo_guardado();
    fill(logEthernet, {u"e"_s});
    fill(logRS232, {u"r"_s});

    files.Button3Click();

    EXPECT_EQ(bytesOf(u"Ethernet/05012024-143701.txt"_s), "e\r\n");
    EXPECT_EQ(bytesOf(u"RS232/05012024-143703.txt"_s), "r\r\n");
    EXPECT_EQ(panel.text(Field::LULR), u"05012024-143704"_s);
    EXPECT_FALSE(QDir(u"Datos Orvane"_s).exists());
    EXPECT_EQ(files.ultimo_guardado(), before);
    EXPECT_TRUE(logEthernet.isEmpty());
    EXPECT_TRUE(logRS232.isEmpty());
}

TEST_F(RawLogFilesTest, ManualSaveWhoseEthernetFolderCannotBeMadeRaisesAndWritesNothing) {
    ASSERT_TRUE(QDir().mkdir(u"RS232"_s));
    ASSERT_TRUE(makeFile(u"Ethernet"_s)); // a file where the folder should be
    const QString label = panel.text(Field::LULE);
    fill(logEthernet, {u"e"_s});
    fill(logRS232, {u"r"_s});

    EXPECT_THAT([&] { files.Button3Click(); }, ThrowsMessage<base::Error>(HasSubstr("05012024-143701.txt")));

    EXPECT_FALSE(QDir(u"Ethernet"_s).exists());
    EXPECT_EQ(logEthernet.size(), 1);
    EXPECT_EQ(logRS232.size(), 1);
    EXPECT_TRUE(filesIn(u"RS232"_s).isEmpty());
    EXPECT_EQ(panel.text(Field::LULE), label);
}

TEST_F(RawLogFilesTest, AWriteThatFailsAfterOpeningIsRaisedAndKeepsTheList) {
    ASSERT_TRUE(QDir().mkdir(u"RS232"_s));
    // A full disk: the file opens, the bytes do not go.
    ASSERT_TRUE(QFile::link(u"/dev/full"_s, u"RS232/05012024-143701.txt"_s));
    fill(logRS232, {u"r"_s});

    EXPECT_THROW(files.Button3Click(), base::Error);
    EXPECT_EQ(logRS232.size(), 1);
}

// "Guardar Log" and the close write into the relative folders alike, on a fresh station too.
struct RelativeSaveCase {
    const char* name;
    void (RawLogFiles::*save)();
};

class RelativeSave : public RawLogFilesTest, public ::testing::WithParamInterface<RelativeSaveCase> {
protected:
    void save() { (files.*GetParam().save)(); }
};

TEST_P(RelativeSave, MakesTheFolderOfAListThatHasEntries) {
    fill(logRS232, {u"r"_s});

    save();

    EXPECT_EQ(bytesOf(u"RS232/05012024-143701.txt"_s), "r\r\n");
    EXPECT_FALSE(QDir(u"Ethernet"_s).exists()); // nothing to write there
    EXPECT_FALSE(QDir(u"Datos Orvane"_s).exists());
    EXPECT_TRUE(logRS232.isEmpty());
}

TEST_P(RelativeSave, ThatCannotWriteRaisesAndKeepsTheList) {
    ASSERT_TRUE(makeFile(u"RS232"_s));
    fill(logRS232, {u"r"_s});

    EXPECT_THROW(save(), base::Error);
    EXPECT_EQ(logRS232.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(RawLogFiles, RelativeSave,
                         ::testing::Values(RelativeSaveCase{"GuardarLog", &RawLogFiles::Button3Click},
                                           RelativeSaveCase{"Close", &RawLogFiles::saveOnClose}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RawLogFilesTest, ASaveNeverDestroysAnEarlierFileOfTheSameName) {
    ASSERT_TRUE(QDir().mkdir(u"RS232"_s));
    // Each save takes two counts: after fifty in one minute the names come round again.
    for (int save = 1; save <= 51; ++save) {
        fill(logRS232, {u"line %1"_s.arg(save)});
        files.Button3Click();
    }

    EXPECT_EQ(filesIn(u"RS232"_s).size(), 50);
    EXPECT_EQ(bytesOf(u"RS232/05012024-143701.txt"_s), "line 1\r\nline 51\r\n");
}

struct OversizedCase {
    const char* name;
    bool serial;
    bool restored;        // the whole list at once, as the settings store restores the Ethernet log
    qsizetype lineLength; // 0: short lines, which reach the entry bound; else the byte bound comes first
};

class OversizedList : public RawLogFilesTest, public ::testing::WithParamInterface<OversizedCase> {
protected:
    station::RawLog& log() { return GetParam().serial ? logRS232 : logEthernet; }
    QString folder() const { return GetParam().serial ? u"RS232"_s : u"Ethernet"_s; }

    // The most entries the list holds without being written out.
    static qsizetype limit() {
        const qsizetype length = GetParam().lineLength;
        return length == 0 ? RawLogFiles::kEntryLimit
                           : RawLogFiles::kByteLimit / (length * qsizetype(sizeof(QChar)));
    }

    static QString entry(qsizetype number) {
        return u"line %1"_s.arg(number).leftJustified(GetParam().lineLength, u'x');
    }

    void grow(qsizetype count) {
        if (GetParam().restored) {
            QStringList entries = log().entries();
            while (entries.size() < count)
                entries.append(entry(entries.size() + 1));
            log().assign(std::move(entries));
        } else {
            while (log().size() < count)
                log().append(entry(log().size() + 1));
        }
        QCoreApplication::processEvents();
    }
};

TEST_P(OversizedList, IsWrittenOutOnceItPassesTheLimit) {
    QSignalSpy reported(&errors, &base::ErrorReport::reported);
    grow(limit());
    EXPECT_EQ(log().size(), limit());
    EXPECT_FALSE(QDir(folder()).exists());

    grow(limit() + 1);

    EXPECT_TRUE(log().isEmpty());
    const QByteArray written = bytesOf(folder() + u"/05012024-143701.txt"_s);
    EXPECT_EQ(written.count("\r\n"), limit() + 1);
    EXPECT_TRUE(written.startsWith((entry(1) + u"\r\n"_s + entry(2) + u"\r\n"_s).toLatin1()));
    EXPECT_TRUE(written.endsWith((entry(limit() + 1) + u"\r\n"_s).toLatin1()));
    EXPECT_EQ(reported.count(), 0);
}

TEST_P(OversizedList, ThatCannotBeWrittenIsKeptAndReportedOnce) {
    QSignalSpy reported(&errors, &base::ErrorReport::reported);
    ASSERT_TRUE(makeFile(folder())); // a file where the folder should be

    grow(limit() + 1);
    grow(limit() + 50);

    EXPECT_EQ(log().size(), limit() + 50);
    ASSERT_EQ(reported.count(), 1);
    EXPECT_TRUE(reported.at(0).at(0).toString().contains(folder()));

    // Once a save has got the list out, the next one that grows too long is written at the limit.
    ASSERT_TRUE(QFile::remove(folder()));
    files.saveOnClose();
    ASSERT_TRUE(log().isEmpty());
    grow(limit() + 1);
    EXPECT_TRUE(log().isEmpty());
    EXPECT_EQ(reported.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(RawLogFiles, OversizedList,
                         ::testing::Values(OversizedCase{"SerialAppended", true, false, 0},
                                           OversizedCase{"EthernetRestored", false, true, 0},
                                           // Lines as long as the serial intake lets them be.
                                           OversizedCase{"SerialLongLines", true, false, 16384},
                                           OversizedCase{"EthernetRestoredLongLines", false, true, 16384}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
