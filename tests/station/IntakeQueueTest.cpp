#include "station/IntakeQueue.h"
#include "station/IntakeJournal.h"
#include "tests/support/JournaledTexts.h"
#include "tests/support/QtPrinters.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

using station::IntakeJournal;
using station::IntakeQueue;

using testsupport::journaledTexts;

TEST(IntakeQueue, KeepsEveryLineOfConcurrentAppendersInTheirOrder) {
    IntakeQueue queue(1'000'000);
    constexpr int kThreads = 4;
    constexpr int kLines = 5000;
    std::vector<std::thread> appenders;
    for (int t = 0; t < kThreads; ++t) {
        appenders.emplace_back([&queue, t] {
            for (int i = 0; i < kLines; ++i)
                queue.append(u"%1:%2"_s.arg(t).arg(i));
        });
    }
    // The tick takes from the front while the appenders are still at work.
    std::map<int, int> next;
    int taken = 0;
    while (taken < kThreads * kLines) {
        if (auto item = queue.takeFront()) {
            const auto parts = item->text.split(u':');
            const int thread = parts[0].toInt();
            EXPECT_EQ(parts[1].toInt(), next[thread]++);
            ++taken;
        }
    }
    for (auto& appender : appenders)
        appender.join();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_FALSE(queue.takeFront().has_value());
}

TEST(IntakeQueue, TellsTheAppenderToPushBackUntilDrained) {
    IntakeQueue queue(4);
    QSignalSpy drained(&queue, &IntakeQueue::drained);
    EXPECT_FALSE(queue.append(u"1"_s));
    EXPECT_FALSE(queue.append(u"2"_s));
    EXPECT_FALSE(queue.append(u"3"_s));
    EXPECT_TRUE(queue.append(u"4"_s));
    EXPECT_TRUE(queue.append(u"5"_s)); // never dropped
    EXPECT_EQ(queue.size(), 5);
    EXPECT_TRUE(queue.isAboveHighWater());

    queue.takeFront();
    queue.takeFront();
    EXPECT_EQ(drained.count(), 0);
    queue.takeFront(); // two left: half the mark
    EXPECT_EQ(drained.count(), 1);
    queue.takeFront();
    EXPECT_EQ(drained.count(), 1);
}

TEST(IntakeQueue, LongLinesReachTheMarkByTheirBytesLongBeforeTheirCount) {
    const QString line(1000, u'x'); // 2000 bytes of text
    IntakeQueue queue(1000, 10000);
    QSignalSpy drained(&queue, &IntakeQueue::drained);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(queue.append(line));
    EXPECT_TRUE(queue.append(line));
    EXPECT_EQ(queue.bytes(), 10000);
    EXPECT_TRUE(queue.isAboveHighWater());

    queue.takeFront();
    queue.takeFront();
    EXPECT_EQ(drained.count(), 0);
    queue.takeFront(); // 4000 bytes left: below half the mark
    EXPECT_EQ(drained.count(), 1);
    EXPECT_FALSE(queue.isAboveHighWater());
}

// At the mark only the device that fills the queue is held back; the others read on until the
// queue stands at twice the mark.
TEST(IntakeQueue, HoldsBackTheDeviceThatFillsTheQueueNotTheOthers) {
    IntakeQueue queue(10);
    QSignalSpy drained(&queue, &IntakeQueue::drained);
    EXPECT_FALSE(queue.appendBatch(std::vector<QString>(9, u"f"_s), 1));
    EXPECT_TRUE(queue.append(u"f"_s, 1));
    EXPECT_TRUE(queue.holdsBack(1));
    EXPECT_FALSE(queue.holdsBack(2));
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(queue.append(u"p"_s, 2)) << i;
    EXPECT_FALSE(queue.holdsBack(2));
    EXPECT_TRUE(queue.append(u"p"_s, 2)) << "twice the mark holds everyone back";
    EXPECT_TRUE(queue.holdsBack(2));
    EXPECT_EQ(queue.size(), 20);

    // Served in turn, both are let go together once the queue is down to half the mark.
    for (int i = 0; i < 14; ++i)
        queue.takeFront();
    EXPECT_EQ(drained.count(), 0);
    queue.takeFront();
    EXPECT_EQ(drained.count(), 1);
    EXPECT_FALSE(queue.holdsBack(1));
    EXPECT_FALSE(queue.holdsBack(2));
}

TEST(IntakeQueue, ServesDevicesInTurnAndKeepsEachOnesOrder) {
    IntakeQueue queue;
    QSignalSpy removed(&queue, &IntakeQueue::removed);
    // Device 1 floods the queue before devices 2 and 3 send a line each.
    for (int i = 1; i <= 4; ++i)
        queue.append(u"1:%1"_s.arg(i), 1);
    queue.append(u"2:1"_s, 2);
    queue.append(u"3:1"_s, 3);
    queue.append(u"2:2"_s, 2);

    QStringList taken;
    while (auto item = queue.takeFront())
        taken << item->text;
    EXPECT_EQ(taken, (QStringList{u"1:1"_s, u"2:1"_s, u"3:1"_s, u"1:2"_s, u"2:2"_s, u"1:3"_s, u"1:4"_s}));
    // Each removal names the item that left.
    QList<quint64> sequences;
    for (const QList<QVariant>& args : removed)
        sequences << args.at(0).toULongLong();
    EXPECT_EQ(sequences, (QList<quint64>{1, 5, 6, 2, 7, 3, 4}));
}

TEST(IntakeQueue, NumbersAppendsAndRemovalsForAFollowingView) {
    IntakeQueue queue;
    QSignalSpy appended(&queue, &IntakeQueue::appended);
    QSignalSpy removed(&queue, &IntakeQueue::removed);
    queue.append(u"a"_s);
    queue.append(u"b"_s);
    EXPECT_EQ(queue.takeFront()->text, u"a"_s);
    ASSERT_EQ(appended.count(), 2);
    EXPECT_EQ(appended.at(1).at(0).toULongLong(), 2u);
    EXPECT_EQ(appended.at(1).at(1).toString(), u"b"_s);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(0).toULongLong(), 1u);
}

TEST(IntakeQueue, NumbersEveryLineWithinItsRunInAppendOrder) {
    IntakeQueue queue;
    IntakeQueue other;
    EXPECT_NE(queue.run(), 0u);
    EXPECT_NE(queue.run(), other.run());
    queue.appendBatch({u"1:1"_s, u"1:2"_s}, 1);
    queue.append(u"2:1"_s, 2);
    queue.appendBatch({u"1:3"_s}, 1);

    std::map<QString, base::LineId> ids;
    while (auto item = queue.takeFront())
        ids[item->text] = item->id;
    ASSERT_EQ(ids.size(), 4u);
    for (const auto& [text, id] : ids)
        EXPECT_EQ(id.run, queue.run()) << text.toStdString();
    EXPECT_EQ(ids[u"1:1"_s].sequence, 1u);
    EXPECT_EQ(ids[u"1:2"_s].sequence, 2u);
    EXPECT_EQ(ids[u"2:1"_s].sequence, 3u);
    EXPECT_EQ(ids[u"1:3"_s].sequence, 4u);
}

class JournaledQueue : public ::testing::Test {
protected:
    JournaledQueue() {
        journal.recover();
        queue.setJournal(&journal);
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(IntakeJournal::kFileName.toString());
    IntakeJournal journal{path};
    IntakeQueue queue{4};
};

TEST_F(JournaledQueue, OneReadIsOneWriteAndInTheJournalBeforeTheQueue) {
    int writes = 0;
    qsizetype queuedAtTheWrite = -1;
    journal.setWriteFault([&](qint64) {
        ++writes;
        queuedAtTheWrite = queue.size();
        return 0;
    });
    EXPECT_FALSE(queue.appendBatch({u"a"_s, u"b"_s, u"c"_s}, 1));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(queuedAtTheWrite, 0);
    EXPECT_EQ(queue.size(), 3);
    EXPECT_EQ(journaledTexts(path), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
}

// A full disk holds the intake back as the high-water mark does, without dropping what was read.
TEST_F(JournaledQueue, PushesBackWhileTheJournalIsBlockedAndDrainsOnceARetryWrites) {
    QSignalSpy drained(&queue, &IntakeQueue::drained);
    bool full = true;
    journal.setWriteFault([&](qint64) { return full ? ENOSPC : 0; });
    EXPECT_TRUE(queue.appendBatch({u"a"_s, u"b"_s}, 1)); // below the mark of 4
    EXPECT_EQ(queue.size(), 2);
    EXPECT_TRUE(queue.holdsBack());
    EXPECT_FALSE(queue.retryJournal());
    EXPECT_EQ(drained.count(), 0);

    full = false;
    EXPECT_TRUE(queue.retryJournal());
    EXPECT_EQ(drained.count(), 1);
    EXPECT_FALSE(queue.holdsBack());
    EXPECT_TRUE(queue.retryJournal());
    EXPECT_EQ(drained.count(), 1) << "nothing was held back";
    EXPECT_FALSE(queue.append(u"c"_s, 1));
    EXPECT_EQ(journaledTexts(path), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
}

// The whole round: a run reads lines and is killed before it worked them all; the next start puts
// them back in the queue under their first identities, and their marks empty the journal.
TEST(IntakeQueueRestore, RestoredLinesKeepTheirIdentitiesAndAreNotJournaledAgain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(IntakeJournal::kFileName.toString());
    std::map<QString, base::LineId> takenBefore;
    {
        IntakeJournal journal(path);
        journal.recover();
        IntakeQueue earlier;
        earlier.setJournal(&journal);
        earlier.appendBatch({u"uno"_s, u"dos"_s}, 3);
        earlier.append(u"tres"_s, 5);
        earlier.markDone(earlier.takeFront()->id);
        journal.writeDoneMarks(journal.takeDoneMarks());
        // Taken, but the kill comes before they are worked.
        while (auto item = earlier.takeFront())
            takenBefore[item->text] = item->id;
    }
    IntakeJournal journal(path);
    IntakeQueue queue;
    queue.setJournal(&journal);
    EXPECT_FALSE(queue.restore(journal.recover().lines));
    queue.append(u"cuatro"_s, 3);
    EXPECT_EQ(journaledTexts(path), (QStringList{u"uno"_s, u"dos"_s, u"tres"_s, u"cuatro"_s}));

    std::vector<station::QueuedLine> taken;
    while (auto item = queue.takeFront())
        taken.push_back(*item);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].text, u"dos"_s);
    EXPECT_EQ(taken[0].id, takenBefore[u"dos"_s]);
    EXPECT_EQ(taken[1].text, u"tres"_s);
    EXPECT_EQ(taken[1].id, takenBefore[u"tres"_s]);
    EXPECT_EQ(taken[2].text, u"cuatro"_s);
    EXPECT_EQ(taken[2].id.run, queue.run());

    for (const station::QueuedLine& line : taken)
        queue.markDone(line.id);
    journal.writeDoneMarks(journal.takeDoneMarks());
    EXPECT_EQ(QFile(path).size(), 0);
}
