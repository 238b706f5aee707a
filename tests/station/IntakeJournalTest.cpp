#include "station/IntakeJournal.h"

#include "base/JournalFile.h"
#include "tests/support/QtPrinters.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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

// A power cut in the middle of an append: the tail is cut off at recovery, so the lines appended
// after it can be read back at the start after that.
TEST_F(IntakeJournalTest, ATornTailIsCutOffAndTold) {
    qint64 whole = 0;
    {
        IntakeJournal journal(path);
        journal.recover();
        journal.append({line(1)});
        whole = QFile(path).size();
        journal.append({line(2)});
    }
    const qint64 torn = QFile(path).size() - 5;
    ASSERT_TRUE(QFile::resize(path, torn));
    {
        IntakeJournal journal(path);
        const IntakeJournal::Recovered recovered = journal.recover();
        EXPECT_EQ(described(recovered.lines), described({1}));
        EXPECT_THAT(recovered.damage.toStdString(),
                    testing::AllOf(testing::HasSubstr("dañado"),
                                   testing::HasSubstr(QString::number(torn - whole).toStdString())));
        EXPECT_EQ(QFile(path).size(), whole);
        journal.append({line(3)});
    }
    const IntakeJournal::Recovered again = reopen();
    EXPECT_EQ(described(again.lines), described({1, 3}));
    EXPECT_TRUE(again.damage.isEmpty());
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
