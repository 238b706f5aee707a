#include "station/ProcessingTick.h"
#include "base/ErrorReport.h"
#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "station/LivePanel.h"
#include "station/StationError.h"
#include "station/TickTimer.h"
#include "tests/support/QtPrinters.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

using namespace station;

namespace {

class FakeTimer final : public TickTimer {
public:
    void setEnabled(bool on) override { m_on = on; }
    bool isEnabled() const override { return m_on; }
    void idle() override { ++idled; }
    void hurry() override { ++hurried; }
    int idled = 0;
    int hurried = 0;

private:
    bool m_on = true;
};

class RecordingProcessor final : public FrameHandler {
public:
    void procesar_dato(QString& buffer) override {
        timerWasOn.push_back(timer->isEnabled());
        seen.push_back(buffer);
        idsSeen.push_back(tick->lineId());
        if (fail)
            fail(buffer);
    }
    std::vector<QString> seen;
    std::vector<bool> timerWasOn;
    std::vector<base::LineId> idsSeen; // what a stored row is stamped with
    std::function<void(const QString&)> fail;
    const TickTimer* timer = nullptr;
    const ProcessingTick* tick = nullptr;
};

class RecordingTransaction final : public TransactionControl {
public:
    bool isActive() const override { return active; }
    bool acceptsRows() const override { return accepts; }
    void commit() override {
        ++commits;
        if (refuse)
            throw StationError(u"commit refused"_s);
        active = false;
    }
    bool active = false;
    bool refuse = false;
    bool accepts = true;
    int commits = 0;
};

class FakeStopwatch final : public base::Stopwatch {
public:
    void restart() override { m_elapsed = {}; }
    qint64 elapsedMs() const override { return m_elapsed.count(); }
    void advance(std::chrono::milliseconds by) { m_elapsed += by; }

private:
    std::chrono::milliseconds m_elapsed{};
};

struct TickFixture : ::testing::Test {
    TickFixture() {
        processor.timer = &timer;
        processor.tick = &tick;
    }

    static QString line(int length) { return QString(length, u'a'); }

    IntakeQueue queue;
    LivePanel panel;
    FakeTimer timer;
    RecordingProcessor processor;
    RecordingTransaction transaction;
    base::ErrorReport errors;
    FakeStopwatch waited;
    ProcessingTick tick{queue, panel, timer, processor, transaction, errors, waited};

    // Works one line that leaves the transaction open, as a stored row does.
    void workLine() {
        queue.append(line(30));
        tick.Timer1Timer();
        transaction.active = true;
    }
};

} // namespace

TEST_F(TickFixture, EmptyQueueChangesNothing) {
    QSignalSpy status(&panel, &LivePanel::statusChanged);
    transaction.active = true;
    tick.Timer1Timer();
    EXPECT_EQ(status.count(), 0);
    EXPECT_EQ(tick.contadorTicks(), 0);
    EXPECT_EQ(transaction.commits, 0);
}

TEST_F(TickFixture, ItemsOfUpTo22CharactersAreCountedButNotProcessed) {
    panel.setStatus(2, u"before"_s);
    queue.append(line(22));
    tick.Timer1Timer();
    EXPECT_EQ(panel.status(1), u"L:22"_s);
    EXPECT_EQ(panel.status(2), u"before"_s);
    EXPECT_TRUE(processor.seen.empty());
    EXPECT_EQ(tick.contadorTicks(), 1);

    queue.append(u"\x02"_s + line(21) + u"\n"_s);
    tick.Timer1Timer();
    EXPECT_EQ(panel.status(1), u"L:23"_s);
    EXPECT_EQ(panel.status(2), u"\x02"_s + line(21) + u"\n"_s);
    ASSERT_EQ(processor.seen.size(), 1u);
    EXPECT_FALSE(processor.timerWasOn[0]);
    EXPECT_TRUE(timer.isEnabled());
}

TEST_F(TickFixture, ALineThatArrivesAloneIsWorkedAloneOnTheNextTick) {
    queue.append(line(30) + u"1"_s);
    tick.Timer1Timer();
    ASSERT_EQ(processor.seen.size(), 1u);
    queue.append(line(30) + u"2"_s);
    tick.Timer1Timer();
    EXPECT_EQ(processor.seen, (std::vector<QString>{line(30) + u"1"_s, line(30) + u"2"_s}));
    EXPECT_EQ(tick.contadorTicks(), 2);
}

// A backlog is worked off several lines a tick, each a record of its own, within the tick's budget
// of lines and of time.
TEST_F(TickFixture, ABacklogIsWorkedOffWithinTheTicksBudget) {
    FakeStopwatch budget;
    tick.setBudgetStopwatch(budget);
    const int lines = int(ProcessingTick::kMostLinesPerTick) * 2 + 10;
    for (int i = 0; i < lines; ++i)
        queue.append(line(30) + QString::number(i));

    std::vector<qsizetype> perTick;
    while (!queue.isEmpty()) {
        const std::size_t before = processor.seen.size();
        tick.Timer1Timer();
        perTick.push_back(qsizetype(processor.seen.size() - before));
        EXPECT_TRUE(timer.isEnabled());
    }
    EXPECT_EQ(perTick, (std::vector<qsizetype>{ProcessingTick::kMostLinesPerTick,
                                               ProcessingTick::kMostLinesPerTick, 10}));
    EXPECT_EQ(timer.hurried, 2) << "a tick that left lines behind asks for the next one at once";
    for (int i = 0; i < lines; ++i)
        ASSERT_EQ(processor.seen[std::size_t(i)], line(30) + QString::number(i));
    EXPECT_EQ(panel.status(2), line(30) + QString::number(lines - 1)) << "the panel ends on the last";
    EXPECT_EQ(tick.contadorTicks(), lines % 101) << "the commit cadence counts lines";

    // Lines that take a millisecond each: the time budget ends the tick first.
    processor.fail = [&](const QString&) { budget.advance(std::chrono::milliseconds(1)); };
    for (int i = 0; i < 10; ++i)
        queue.append(line(30));
    tick.Timer1Timer();
    EXPECT_EQ(queue.size(), 10 - ProcessingTick::kMostTimePerTick.count());
}

TEST_F(TickFixture, ATickTakesTheDevicesInTurnAndKeepsEachOnesOrder) {
    for (int i = 1; i <= 3; ++i)
        queue.appendBatch({line(30) + u"A%1"_s.arg(i)}, 1);
    queue.appendBatch({line(30) + u"B1"_s, line(30) + u"B2"_s}, 2);
    tick.Timer1Timer();
    EXPECT_EQ(processor.seen,
              (std::vector<QString>{line(30) + u"A1"_s, line(30) + u"B1"_s, line(30) + u"A2"_s,
                                    line(30) + u"B2"_s, line(30) + u"A3"_s}));
}

// With nothing queued and nothing left to commit, the tick lets its timer sleep; rows waiting for
// their commit keep it ticking until they are committed.
TEST_F(TickFixture, SleepsOnlyWhenNothingIsQueuedOrLeftToCommit) {
    tick.Timer1Timer();
    EXPECT_EQ(timer.idled, 1);
    for (int n = 0; n < 12; ++n)
        workLine();
    EXPECT_EQ(timer.idled, 1);
    tick.Timer1Timer();
    EXPECT_EQ(timer.idled, 1) << "the last rows are not committed yet";
    waited.advance(ProcessingTick::kCommitWithin);
    tick.Timer1Timer();
    EXPECT_FALSE(transaction.active);
    EXPECT_EQ(timer.idled, 2);
    EXPECT_TRUE(timer.isEnabled());
}

TEST_F(TickFixture, CommitsOnTheCadenceOver202WorkingTicks) {
    std::vector<int> committedAt;
    for (int n = 0; n < 202; ++n) {
        transaction.active = true; // every tick leaves an open transaction behind it
        const int c = tick.contadorTicks() > 100 ? 0 : tick.contadorTicks();
        const int before = transaction.commits;
        queue.append(line(30));
        tick.Timer1Timer();
        if (transaction.commits != before)
            committedAt.push_back(c);
    }
    std::vector<int> expected;
    for (int round = 0; round < 2; ++round) {
        for (int c = 0; c <= 10; ++c)
            expected.push_back(c);
        for (int c = 20; c <= 100; c += 10)
            expected.push_back(c);
    }
    EXPECT_EQ(committedAt, expected);
    EXPECT_EQ(tick.contadorTicks(), 101);
}

TEST_F(TickFixture, NoCommitWithoutAnActiveTransaction) {
    queue.append(line(30));
    tick.Timer1Timer();
    EXPECT_EQ(transaction.commits, 0);
    EXPECT_EQ(tick.contadorTicks(), 1);
}

TEST_F(TickFixture, AFailureLosesItsLineButNotTheNext) {
    QSignalSpy reported(&errors, &base::ErrorReport::reported);
    processor.fail = [](const QString& buffer) {
        if (buffer.endsWith(u'1'))
            throw StationError(u"'x' is not a valid integer value"_s);
    };
    transaction.active = true;
    queue.append(line(30) + u"1"_s);
    tick.Timer1Timer();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(tick.contadorTicks(), 0);
    EXPECT_EQ(transaction.commits, 0);
    EXPECT_TRUE(timer.isEnabled());
    ASSERT_EQ(reported.count(), 1);
    EXPECT_EQ(reported.at(0).at(0).toString(), u"'x' is not a valid integer value"_s);

    // In a backlog too: the failing line is lost, the next one is worked in the same tick with the
    // same counter value, and the commit is tried again.
    queue.append(line(30) + u"1"_s);
    queue.append(line(30) + u"2"_s);
    tick.Timer1Timer();
    EXPECT_EQ(reported.count(), 2);
    EXPECT_EQ(processor.seen.back(), line(30) + u"2"_s);
    EXPECT_EQ(tick.contadorTicks(), 1);
    EXPECT_EQ(transaction.commits, 1);
}

TEST_F(TickFixture, TheLastRowsOfAShiftAreCommittedByAnIdleTickWithinTheLimit) {
    for (int n = 0; n < 12; ++n) // the cadence commits up to the eleventh line, not the twelfth
        workLine();
    const int afterCadence = transaction.commits;

    waited.advance(ProcessingTick::kCommitWithin - std::chrono::milliseconds(1));
    tick.Timer1Timer();
    EXPECT_EQ(transaction.commits, afterCadence);
    waited.advance(std::chrono::milliseconds(1));
    tick.Timer1Timer();
    EXPECT_EQ(transaction.commits, afterCadence + 1);
    EXPECT_FALSE(transaction.active);

    waited.advance(std::chrono::seconds(10));
    tick.Timer1Timer();
    EXPECT_EQ(transaction.commits, afterCadence + 1) << "nothing left to commit";
}

TEST_F(TickFixture, ASlowStreamBetweenCadenceCommitsIsCommittedWithinTheLimitToo) {
    for (int n = 0; n < 12; ++n)
        workLine();
    // Lines 300 ms apart: the cadence would wait ten of them, three seconds.
    const int afterCadence = transaction.commits;
    workLine();
    waited.advance(std::chrono::milliseconds(300));
    workLine();
    EXPECT_EQ(transaction.commits, afterCadence);
    waited.advance(std::chrono::milliseconds(300));
    workLine(); // the first uncommitted row has waited 600 ms
    EXPECT_EQ(transaction.commits, afterCadence + 1);
}

TEST_F(TickFixture, ARefusedIdleCommitIsReportedOncePerAttemptNotPerTick) {
    QSignalSpy reported(&errors, &base::ErrorReport::reported);
    for (int n = 0; n < 12; ++n)
        workLine();
    transaction.refuse = true;
    const int afterCadence = transaction.commits;

    waited.advance(ProcessingTick::kCommitWithin);
    for (int i = 0; i < 50; ++i)
        tick.Timer1Timer();
    EXPECT_EQ(transaction.commits, afterCadence + 1);
    EXPECT_EQ(reported.count(), 1);

    transaction.refuse = false;
    waited.advance(ProcessingTick::kCommitWithin);
    tick.Timer1Timer();
    EXPECT_EQ(transaction.commits, afterCadence + 2);
    EXPECT_FALSE(transaction.active);
}

TEST_F(TickFixture, DrainWorksOffTheWholeQueue) {
    for (int i = 0; i < 5; ++i)
        queue.append(line(30));
    timer.setEnabled(false);
    tick.drain();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(processor.seen.size(), 5u);
    EXPECT_FALSE(timer.isEnabled());
}

// The tick marks every line it took, processed, too short to be or failed in its work: none of them
// is to be worked again after a restart. The row carries the line's identity.
TEST_F(TickFixture, MarksEveryLineItTookDone) {
    QTemporaryDir dir;
    IntakeJournal journal(dir.filePath(IntakeJournal::kFileName.toString()));
    journal.recover();
    queue.setJournal(&journal);
    processor.fail = [](const QString& buffer) {
        if (buffer.endsWith(u'!'))
            throw StationError(u"falla"_s);
    };
    queue.append(line(30));
    queue.append(line(5));
    queue.append(line(30) + u"!"_s);
    for (int i = 0; i < 3; ++i)
        tick.Timer1Timer();
    const base::LineId first{queue.run(), 1};
    const base::LineId third{queue.run(), 3};
    EXPECT_EQ(processor.idsSeen, (std::vector<base::LineId>{first, third}));
    EXPECT_EQ(tick.lineId(), third);
    EXPECT_EQ(journal.takeDoneMarks(), (std::vector<base::LineId>{first, {queue.run(), 2}, third}));
}

// Rows that cannot be kept (the outbox's disk is full): lines stay in the queue, where the intake
// sees it fill and pushes back; the open transaction is still committed in time.
TEST_F(TickFixture, TakesNoLineWhileRowsCannotBeKept) {
    for (int n = 0; n < 12; ++n) // the last rows wait for their commit
        workLine();
    transaction.accepts = false;
    queue.append(line(30) + u"x"_s);
    waited.advance(ProcessingTick::kCommitWithin);
    const int commits = transaction.commits;
    tick.Timer1Timer();
    EXPECT_EQ(queue.size(), 1);
    EXPECT_EQ(processor.seen.size(), 12u);
    EXPECT_EQ(transaction.commits, commits + 1);
    tick.drain(); // the close does not spin on a line it may not take
    EXPECT_EQ(queue.size(), 1);

    transaction.accepts = true;
    tick.Timer1Timer();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(processor.seen.back(), line(30) + u"x"_s);
}
