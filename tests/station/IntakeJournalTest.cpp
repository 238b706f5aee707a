#include "station/IntakeJournal.h"

#include "base/ByteCodec.h"
#include "base/JournalFile.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

using namespace Qt::StringLiterals;
using station::IntakeJournal;
using station::JournaledLine;

namespace {

constexpr quint64 kRun = 0xA1B2C3D4E5F60718ull;

JournaledLine line(quint64 sequence, quint64 source = 7) {
    return {{kRun, sequence}, source, QChar(0x02) + u"127.0.0.1\tlínea %1\n"_s.arg(sequence)};
}

// Everything a line keeps, in one text per line for readable failures.
QStringList described(const std::vector<JournaledLine>& lines) {
    QStringList out;
    for (const JournaledLine& l : lines)
        out << u"%1/%2/%3"_s.arg(l.id.text()).arg(l.source).arg(l.text);
    return out;
}

QStringList described(std::initializer_list<quint64> sequences) {
    std::vector<JournaledLine> lines;
    for (const quint64 s : sequences)
        lines.push_back(line(s));
    return described(lines);
}

int recordsIn(const QString& path) {
    base::JournalFile file(path);
    base::JournalReader reader(file, 0);
    int count = 0;
    while (reader.next())
        ++count;
    return count;
}

class IntakeJournalTest : public ::testing::Test {
protected:
    // What the next start finds.
    IntakeJournal::Recovered reopen() {
        IntakeJournal next(path);
        return next.recover();
    }

    void markAndCommit(IntakeJournal& journal, std::initializer_list<quint64> sequences) {
        for (const quint64 s : sequences)
            journal.markDone({kRun, s});
        journal.writeDoneMarks(journal.takeDoneMarks());
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(IntakeJournal::kFileName.toString());
};

} // namespace

// A kill at any moment: lines whose marks were written are gone, those marked only in memory
// (the group commit had not run yet) come back with the rest, in the order they were read.
TEST_F(IntakeJournalTest, TheNextStartGetsTheLinesNotDoneInTheirOrder) {
    {
        IntakeJournal journal(path);
        EXPECT_TRUE(journal.recover().lines.empty());
        journal.append({line(1), line(2), line(3)});
        journal.append({line(4, 9)});
        markAndCommit(journal, {2});
        journal.markDone({kRun, 3});
    }
    const IntakeJournal::Recovered recovered = reopen();
    EXPECT_EQ(described(recovered.lines),
              (QStringList{described({1, 3}) << u"%1/9/%2"_s.arg(line(4).id.text(), line(4).text)}));
    EXPECT_TRUE(recovered.damage.isEmpty());
}

// Recovered lines are worked again under their own identities; once their marks are written the
// following start finds nothing.
TEST_F(IntakeJournalTest, RecoveredLinesAreDoneByTheirOwnMarks) {
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1), line(2)});
    }
    {
        IntakeJournal journal(path);
        ASSERT_EQ(journal.recover().lines.size(), 2u);
        journal.append({line(3)});
        markAndCommit(journal, {1});
    }
    EXPECT_EQ(described(reopen().lines), described({2, 3}));
}

TEST_F(IntakeJournalTest, IsCutBackToEmptyOnceEveryLineIsDone) {
    IntakeJournal journal(path);
    journal.recover();
    journal.append({line(1), line(2)});
    journal.append({line(3)});
    markAndCommit(journal, {1, 2});
    EXPECT_GT(QFile(path).size(), 0);
    markAndCommit(journal, {3});
    EXPECT_EQ(QFile(path).size(), 0);

    // The journal goes on after its cut.
    journal.append({line(4)});
    EXPECT_EQ(described(reopen().lines), described({4}));
}

// Marks for lines the journal never had, or given twice, must not make it believe all is done.
TEST_F(IntakeJournalTest, StrayOrRepeatedMarksDoNotCutBackUndoneLines) {
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1), line(2)});
        markAndCommit(journal, {1, 1, 99});
        markAndCommit(journal, {1});
        EXPECT_GT(QFile(path).size(), 0);
    }
    EXPECT_EQ(described(reopen().lines), described({2}));
}

TEST_F(IntakeJournalTest, AStartWhoseLinesAreAllDoneBeginsWithAnEmptyFile) {
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1), line(2)});
        markAndCommit(journal, {1});
        journal.markDone({kRun, 2});
        journal.writeDoneMarks(journal.takeDoneMarks()); // cut back here already
        journal.append({line(3)});
        markAndCommit(journal, {3});
    }
    IntakeJournal journal(path);
    EXPECT_TRUE(journal.recover().lines.empty());
    EXPECT_EQ(QFile(path).size(), 0);
}

// Without a recovery the journal does not know the earlier run's lines, so it must not cut them off.
TEST_F(IntakeJournalTest, WithoutRecoveryTheEarlierRunsLinesAreNeverCutOff) {
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1)});
    }
    {
        IntakeJournal journal(path);
        journal.append({line(2)});
        markAndCommit(journal, {2});
    }
    EXPECT_EQ(described(reopen().lines), described({1}));
}

namespace {

// Lines 1..6 read, 1 and 2 done: what damage leaves of them. Only the lines it hit are lost; the
// damaged file is kept aside as it was, and a sound one takes its place.
struct DamageCase {
    const char* name;
    // `ends`: where the records of lines 1..6 end in the file.
    std::function<void(const QString& path, const std::vector<qint64>& ends)> spoil;
    std::vector<quint64> kept;
    const char* damage; // a piece of the text told, or empty when nothing is (nor kept aside)
};

class IntakeJournalDamage : public IntakeJournalTest, public ::testing::WithParamInterface<DamageCase> {};

void overwrite(const QString& path, qint64 at, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(at);
    file.write(bytes);
}

void flip(const QString& path, qint64 at) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(at);
    char c = 0;
    file.getChar(&c);
    file.seek(at);
    file.putChar(char(c ^ 0x5A));
}

QStringList asideFiles(const QString& folder) {
    return QDir(folder).entryList({u"*.da\u00f1ado-*"_s}, QDir::Files);
}

} // namespace

TEST_P(IntakeJournalDamage, OnlyTheLinesTheDamageHitAreLost) {
    std::vector<qint64> ends;
    {
        IntakeJournal journal(path);
        journal.recover();
        for (quint64 s = 1; s <= 6; ++s) {
            journal.append({line(s)});
            ends.push_back(QFile(path).size());
            if (s == 3)
                markAndCommit(journal, {1, 2});
        }
    }
    GetParam().spoil(path, ends);
    QFile before(path);
    const QByteArray spoiled = before.open(QIODevice::ReadOnly) ? before.readAll() : QByteArray();
    before.close();
    std::vector<JournaledLine> kept;
    for (const quint64 s : GetParam().kept)
        kept.push_back(line(s));
    const IntakeJournal::Recovered recovered = reopen();
    EXPECT_EQ(described(recovered.lines), described(kept));
    const QStringList aside = asideFiles(dir.path());
    const std::string damage = GetParam().damage;
    if (damage.empty()) {
        EXPECT_TRUE(recovered.damage.isEmpty()) << recovered.damage.toStdString();
        EXPECT_TRUE(aside.isEmpty());
    } else {
        EXPECT_THAT(recovered.damage.toStdString(), testing::HasSubstr(damage));
        ASSERT_EQ(aside.size(), 1);
        EXPECT_THAT(recovered.damage.toStdString(), testing::HasSubstr(aside[0].toStdString()));
        QFile kept(dir.filePath(aside[0]));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), spoiled);
    }
    // Sound from then on: the same lines, no damage.
    const IntakeJournal::Recovered again = reopen();
    EXPECT_EQ(described(again.lines), described(kept));
    EXPECT_TRUE(again.damage.isEmpty()) << again.damage.toStdString();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Spoiled, IntakeJournalDamage, ::testing::Values(
    DamageCase{"Intact", [](const QString&, const auto&) {}, {3, 4, 5, 6}, ""},
    DamageCase{"CutInsideTheLastLine", [](const QString& p, const auto& e) { QFile::resize(p, e[5] - 5); },
               {3, 4, 5}, "\u00faltimos"},
    DamageCase{"ByteFlippedInTheFirstLine", [](const QString& p, const auto&) { flip(p, 20); }, {3, 4, 5, 6},
               "se perdieron las l\u00edneas entre los bytes 0 y"},
    DamageCase{"ByteFlippedInAMiddleLine", [](const QString& p, const auto& e) { flip(p, e[4] - 3); }, {3, 4, 6},
               "se perdieron 1 l\u00ednea entre los bytes"},
    DamageCase{"ByteFlippedInTheLastLine", [](const QString& p, const auto& e) { flip(p, e[5] - 3); }, {3, 4, 5},
               "\u00faltimos"},
    DamageCase{"First64BytesZeroed", [](const QString& p, const auto&) { overwrite(p, 0, QByteArray(64, '\0')); },
               {3, 4, 5, 6}, "se perdieron las l\u00edneas entre los bytes 0 y"},
    DamageCase{"GarbageFile",
               [](const QString& p, const auto&) {
                   QFile f(p);
                   ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                   f.write(QByteArray(300, 'x'));
               },
               {}, "\u00faltimos 300 bytes"},
    // Nothing can be done about a file removed while the station was stopped.
    DamageCase{"RemovedWhileStopped", [](const QString& p, const auto&) { QFile::remove(p); }, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(IntakeJournalTest, AFolderInItsPlaceBlocksTheIntakeUntilItCanBeOpened) {
    ASSERT_TRUE(QDir().mkdir(path));
    IntakeJournal journal(path);
    EXPECT_TRUE(journal.blocked());
    EXPECT_TRUE(journal.recover().lines.empty());
    journal.append({line(1)});
    EXPECT_FALSE(journal.retry());
    ASSERT_TRUE(QDir().rmdir(path));
    EXPECT_TRUE(journal.retry());
    EXPECT_FALSE(journal.blocked());
    EXPECT_EQ(described(reopen().lines), described({1}));
}

// Removed while the station runs: noticed at the next group commit, written again with every line
// not done, told once.
TEST_F(IntakeJournalTest, AFileRemovedWhileRunningIsWrittenAgain) {
    IntakeJournal journal(path);
    journal.recover();
    journal.append({line(1), line(2), line(3)});
    ASSERT_TRUE(QFile::remove(path));
    journal.append({line(4)});
    markAndCommit(journal, {2});
    EXPECT_THAT(journal.takeNotices().join(u' ').toStdString(), testing::HasSubstr("borrado o reemplazado"));
    journal.checkFile();
    EXPECT_TRUE(journal.takeNotices().isEmpty());
    journal.append({line(5)});
    EXPECT_EQ(described(reopen().lines), described({1, 3, 4, 5}));
}

// A full disk: nothing read is dropped. The lines wait in memory, in order, behind the first one
// refused, until a retry finds room.
TEST_F(IntakeJournalTest, AFullDiskBlocksWithoutLosingALine) {
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1)});
        bool full = true;
        journal.setWriteFault([&full](qint64) { return full ? ENOSPC : 0; });
        journal.append({line(2), line(3)});
        EXPECT_TRUE(journal.blocked());
        EXPECT_THAT(journal.blockedReason().toStdString(), testing::HasSubstr("diario de lecturas"));
        EXPECT_FALSE(journal.retry());
        full = false;
        journal.append({line(4)}); // behind the kept ones, though the disk has room again
        EXPECT_TRUE(journal.blocked());
        EXPECT_EQ(recordsIn(path), 1) << "only the line before the refusal";
        EXPECT_TRUE(journal.retry());
        EXPECT_FALSE(journal.blocked());
        EXPECT_TRUE(journal.blockedReason().isEmpty());
        journal.append({line(5)});
    }
    EXPECT_EQ(described(reopen().lines), described({1, 2, 3, 4, 5}));
}

// A kept line worked meanwhile has its row in the outbox: it is never written, not even behind a mark.
TEST_F(IntakeJournalTest, AKeptLineDoneBeforeTheRetryIsNeverWritten) {
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1)});
        journal.setWriteFault([](qint64) { return ENOSPC; });
        journal.append({line(2), line(3)});
        markAndCommit(journal, {2});
        journal.setWriteFault({});
        EXPECT_TRUE(journal.retry());
    }
    EXPECT_EQ(described(reopen().lines), described({1, 3}));
}

TEST_F(IntakeJournalTest, MarksTheDiskRefusesAreWrittenNextTime) {
    IntakeJournal journal(path);
    journal.recover();
    journal.append({line(1), line(2)});
    journal.setWriteFault([](qint64) { return ENOSPC; });
    markAndCommit(journal, {1});
    EXPECT_EQ(recordsIn(path), 2) << "the two lines, no mark";
    EXPECT_FALSE(journal.blocked()) << "the lines are safe: reading goes on";
    journal.setWriteFault({});
    journal.writeDoneMarks(journal.takeDoneMarks());
    EXPECT_EQ(recordsIn(path), 3);
    EXPECT_EQ(described(IntakeJournal(path).recover().lines), described({2}));
}

// With every line done no mark has to fit: the cut back frees the disk.
TEST_F(IntakeJournalTest, AFullDiskStillCutsBackWhenEveryLineIsDone) {
    IntakeJournal journal(path);
    journal.recover();
    journal.append({line(1), line(2)});
    journal.setWriteFault([](qint64) { return ENOSPC; });
    markAndCommit(journal, {1, 2});
    EXPECT_EQ(QFile(path).size(), 0);
}

// The group commit cuts the file back while the intake appends: a line appended at that moment
// must not be cut off with the others.
TEST_F(IntakeJournalTest, ConcurrentAppendsSurviveTheCutBack) {
    constexpr quint64 kLines = 20000;
    {
        IntakeJournal journal(path);
        journal.recover();
        std::atomic<quint64> appended = 0;
        std::thread intake([&] {
            for (quint64 s = 1; s <= kLines; s += 2) {
                journal.append({line(s), line(s + 1)});
                appended.store(s + 1);
            }
        });
        // The tick works every line but the last one as soon as it is in the journal.
        quint64 done = 0;
        while (done < kLines - 1) {
            const quint64 upTo = std::min(appended.load(), kLines - 1);
            while (done < upTo)
                journal.markDone({kRun, ++done});
            journal.writeDoneMarks(journal.takeDoneMarks());
        }
        intake.join();
    }
    EXPECT_EQ(described(reopen().lines), described({kLines}));
}

namespace {

// A record as the former format framed it: length, then a CRC-32C of the record's bytes alone.
QByteArray formerFrame(const QByteArray& record) {
    QByteArray out;
    base::ByteWriter(out).put(quint32(record.size())).put(base::crc32c(record));
    return out + record;
}

QByteArray lineRecord(const JournaledLine& l) {
    QByteArray out;
    base::ByteWriter(out).put(quint8(1)).put(l.id.run).put(l.id.sequence).put(l.source).put(l.text);
    return out;
}

QByteArray doneRecord(std::initializer_list<quint64> sequences) {
    QByteArray out;
    base::ByteWriter writer(out);
    writer.put(quint8(2)).put(quint32(sequences.size()));
    for (const quint64 s : sequences)
        writer.put(kRun).put(s);
    return out;
}

} // namespace

// A station upgraded with lines waiting: those the former journal held read and not done, up to
// where that version stopped reading, are worked in their order, once, from a file of the present
// format.
TEST_F(IntakeJournalTest, LinesWaitingInAFormerFormatFileAreCarriedOver) {
    QByteArray former;
    for (const QByteArray& record : {lineRecord(line(1)), lineRecord(line(2)), lineRecord(line(3)),
                                     doneRecord({1}), lineRecord(line(4)), doneRecord({3})})
        former += formerFrame(record);
    // A power cut tore the last line.
    former += formerFrame(lineRecord(line(5))).first(12);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(former);
    }

    {
        IntakeJournal journal(path);
        EXPECT_FALSE(journal.blocked());
        const IntakeJournal::Recovered recovered = journal.recover();
        EXPECT_EQ(described(recovered.lines), described({2, 4}));
        EXPECT_TRUE(recovered.damage.isEmpty()) << recovered.damage.toStdString();
        const QStringList notices = journal.takeNotices();
        ASSERT_EQ(notices.size(), 1);
        EXPECT_THAT(notices[0].toStdString(),
                    ::testing::HasSubstr("formato anterior: sus 2 l\u00edneas sin trabajar"));
        const QStringList aside = QDir(dir.path()).entryList({u"*.anterior-*"_s}, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_THAT(notices[0].toStdString(), ::testing::HasSubstr(aside[0].toStdString()));
        QFile kept(dir.filePath(aside[0]));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), former);
        EXPECT_EQ(recordsIn(path), 2);
        markAndCommit(journal, {2});
    }
    // Now of the present format: read as any other, converted no more.
    IntakeJournal again(path);
    const IntakeJournal::Recovered recovered = again.recover();
    EXPECT_EQ(described(recovered.lines), described({4}));
    EXPECT_TRUE(recovered.damage.isEmpty()) << recovered.damage.toStdString();
    EXPECT_TRUE(again.takeNotices().isEmpty());
}
