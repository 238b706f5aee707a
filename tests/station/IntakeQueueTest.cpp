#include "station/IntakeQueue.h"
#include "tests/support/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

using station::IntakeQueue;

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
            const auto parts = item->split(u':');
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
        taken << *item;
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
    EXPECT_EQ(*queue.takeFront(), u"a"_s);
    ASSERT_EQ(appended.count(), 2);
    EXPECT_EQ(appended.at(1).at(0).toULongLong(), 2u);
    EXPECT_EQ(appended.at(1).at(1).toString(), u"b"_s);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(0).toULongLong(), 1u);
}
