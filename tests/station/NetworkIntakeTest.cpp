#include "station/NetworkIntake.h"

#include "station/IntakeJournal.h"
#include "station/IntakeQueue.h"
#include "station/OriginTag.h"
#include "station/StationError.h"
#include "tests/support/FreePort.h"
#include "tests/support/JournaledTexts.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SocketQueues.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

using ::testing::StrEq;
using ::testing::ThrowsMessage;

using namespace Qt::StringLiterals;
using station::IntakeJournal;
using station::IntakeQueue;
using station::NetworkIntake;
using station::OriginTag;
using station::StationError;

namespace {

using testsupport::freePort;

constexpr int kWaitMs = 10000;

QString item(const QString& origin, const QString& line) {
    return QChar(0x02) + origin + u'\t' + line + u'\n';
}

std::unique_ptr<QTcpSocket> connectFrom(const QHostAddress& from, const QHostAddress& to, quint16 port) {
    auto socket = std::make_unique<QTcpSocket>();
    if (!from.isNull()) {
        EXPECT_TRUE(socket->bind(from, 0)) << socket->errorString().toStdString();
    }
    socket->connectToHost(to, port);
    EXPECT_TRUE(socket->waitForConnected(kWaitMs)) << socket->errorString().toStdString();
    return socket;
}

QStringList takeAll(IntakeQueue& queue) {
    QStringList items;
    while (auto front = queue.takeFront())
        items << front->text;
    return items;
}

class NetworkIntakeTest : public ::testing::Test {
protected:
    void SetUp() override { intake.start(0); }

    // Returns once the station has taken the connection in.
    std::unique_ptr<QTcpSocket> connect(const QHostAddress& from = {}) {
        const qsizetype before = intake.connectionCount();
        auto device = connectFrom(from, QHostAddress::LocalHost, intake.port());
        EXPECT_TRUE(QTest::qWaitFor([&] { return intake.connectionCount() == before + 1; }, kWaitMs));
        return device;
    }

    bool waitForItems(qsizetype count) {
        return QTest::qWaitFor([&] { return queue.size() >= count; }, kWaitMs);
    }

    bool waitForNoConnection() {
        return QTest::qWaitFor([&] { return intake.connectionCount() == 0; }, kWaitMs);
    }

    IntakeQueue queue;
    OriginTag origin;
    NetworkIntake intake{queue, origin};
};

TEST_F(NetworkIntakeTest, ANoisyDeviceDoesNotHoldUpTheLineOfAnother) {
    constexpr int kNoise = 2000;
    auto noisy = connect();
    auto quiet = connect();
    noisy->write(QByteArray(kNoise, '\n'));
    ASSERT_TRUE(noisy->waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(waitForItems(kNoise));
    quiet->write("000123!X!GT10HJ20KM30NP40QR50ST\n");
    ASSERT_TRUE(quiet->waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(waitForItems(kNoise + 1));

    // Its turn comes after one line of the noisy device, not after all of them.
    queue.takeFront();
    const auto next = queue.takeFront();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->text, item(u"127.0.0.1"_s, u"000123!X!GT10HJ20KM30NP40QR50ST"_s));
}

// What one device sends, and what the station makes of it.
struct WireCase {
    std::string name;
    QByteArray sent;
    QStringList lines;
};

void PrintTo(const WireCase& c, std::ostream* os) {
    *os << c.name;
}

class NetworkIntakeWire : public NetworkIntakeTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(NetworkIntakeWire, QueuesTheCompleteLinesOfOneConnection) {
    const WireCase& c = GetParam();
    auto device = connect();
    device->write(c.sent);
    ASSERT_TRUE(device->waitForBytesWritten(kWaitMs));
    device->disconnectFromHost();
    // A connection is gone only once everything it received was worked off.
    ASSERT_TRUE(waitForNoConnection());
    QStringList expected;
    for (const QString& line : c.lines)
        expected << item(u"127.0.0.1"_s, line);
    EXPECT_EQ(takeAll(queue), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, NetworkIntakeWire,
    ::testing::Values(WireCase{"CrLfThenLfInOneSegment", "A\r\nB\n", {u"A"_s, u"B"_s}},
                      WireCase{"CrCrLfKeepsOneCr", "A\r\r\n", {u"A\r"_s}},
                      WireCase{"EmptyLine", "\n", {QString()}},
                      WireCase{"HighBytes", "\xC3\xA9!\n", {u"\uFFFD\uFFFD!"_s}},
                      WireCase{"PartialLastLineIsDiscarded", "A\nB", {u"A"_s}},
                      WireCase{
                          "LongestLine", QByteArray(16384, 'x') + "\nB\n", {QString(16384, u'x'), u"B"_s}},
                      // Too long: cut, and the line after it on the same connection is read as any other.
                      WireCase{"OneByteTooLongIsCut",
                               "A\n" + QByteArray(16384, 'x') + "\r\nB\n",
                               {u"A"_s, QString(16384, u'x'), u"B"_s}},
                      WireCase{"EndlessLineIsCutAndItsRestDropped",
                               QByteArray(1 << 20, 'x') + "\nC\n",
                               {QString(16384, u'x'), u"C"_s}}),
    [](const auto& info) { return info.param.name; });

TEST_F(NetworkIntakeTest, ReportsACutLineOncePerConnectionWithTheDevicesAddress) {
    std::mutex mutex;
    QStringList reports;
    intake.setProblemReport([&](const QString& problem) {
        const std::lock_guard lock(mutex);
        reports << problem;
    });
    auto device = connect(QHostAddress(u"127.0.0.3"_s));
    const QByteArray tooLong = QByteArray(20000, 'x') + '\n';
    device->write(tooLong + tooLong + "A\n");
    ASSERT_TRUE(waitForItems(3));
    auto other = connect(QHostAddress(u"127.0.0.4"_s));
    other->write(tooLong);
    ASSERT_TRUE(waitForItems(4));
    const std::lock_guard lock(mutex);
    ASSERT_EQ(reports.size(), 2) << reports.join(u'\n').toStdString();
    EXPECT_TRUE(reports[0].contains(u"127.0.0.3"_s)) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains(u"16384 bytes"_s)) << reports[0].toStdString();
    EXPECT_TRUE(reports[1].contains(u"127.0.0.4"_s)) << reports[1].toStdString();
    EXPECT_EQ(intake.connectionCount(), 2) << "the connections stay open";
}

TEST_F(NetworkIntakeTest, TagsEachDeviceWithItsOwnAddress) {
    auto first = connect(QHostAddress(u"127.0.0.1"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return origin.get() == u"127.0.0.1"_s; }, kWaitMs));
    auto second = connect(QHostAddress(u"127.0.0.2"_s));
    // A connection names itself as soon as it starts waiting for a line.
    ASSERT_TRUE(QTest::qWaitFor([&] { return origin.get() == u"127.0.0.2"_s; }, kWaitMs));

    first->write("one\n");
    ASSERT_TRUE(waitForItems(1));
    EXPECT_EQ(origin.get(), u"127.0.0.1"_s);
    second->write("two\n");
    ASSERT_TRUE(waitForItems(2));
    EXPECT_EQ(origin.get(), u"127.0.0.2"_s);
    EXPECT_EQ(takeAll(queue), (QStringList{item(u"127.0.0.1"_s, u"one"_s), item(u"127.0.0.2"_s, u"two"_s)}));
}

TEST_F(NetworkIntakeTest, TagsAnIpv6DeviceWithItsIpv6Address) {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    probe.close();
    auto device = connectFrom({}, QHostAddress::LocalHostIPv6, intake.port());
    device->write("v6\n");
    ASSERT_TRUE(waitForItems(1));
    EXPECT_EQ(takeAll(queue), QStringList{item(u"::1"_s, u"v6"_s)});
}

// Above the high-water mark the intake stops reading, so the queue stays near the mark however
// much the device sends, and every line still arrives, in order.
TEST(NetworkIntakeBackpressure, StopsReadingAboveTheHighWaterMarkAndLosesNothing) {
    constexpr qsizetype kMark = 50;
    constexpr int kLines = 20000;
    IntakeQueue queue(kMark);
    OriginTag origin;
    NetworkIntake intake(queue, origin);
    intake.start(0);

    std::atomic<qsizetype> peak = 0;
    QObject::connect(
        &queue, &IntakeQueue::appended, &queue,
        [&](quint64, const QString&) {
            const qsizetype size = queue.size();
            if (size > peak)
                peak = size;
        },
        Qt::DirectConnection);

    auto device = connectFrom({}, QHostAddress::LocalHost, intake.port());
    QByteArray sent;
    for (int i = 0; i < kLines; ++i)
        sent += "H00001!" + QByteArray::number(i).rightJustified(6, '0') + "!PQ12RS34TU56VW78XY90ZZ\n";
    const qsizetype lineBytes = sent.size() / kLines;
    device->write(sent);

    int next = 0;
    while (next < kLines) {
        // The tick side lets the queue fill up to the mark before it works it off.
        ASSERT_TRUE(QTest::qWaitFor([&] { return queue.isAboveHighWater() || next + queue.size() == kLines; },
                                    kWaitMs))
            << "stuck after " << next << " lines";
        for (const QString& taken : takeAll(queue)) {
            ASSERT_EQ(taken.mid(18, 6).toInt(), next) << taken.toStdString();
            ++next;
        }
    }
    // At most what one read of the socket held goes in after the mark is reached.
    EXPECT_LE(peak.load(), kMark + NetworkIntake::kSocketReadBuffer / lineBytes + 1);
}

// A device that floods the queue is held back at the mark; another device is still read, and once
// the queue is worked off every line of both is there, in each one's order.
TEST(NetworkIntakeBackpressure, HoldsBackTheFloodingDeviceWhileAnotherIsStillRead) {
    constexpr qsizetype kMark = 50;
    constexpr int kLines = 50000; // several reads' worth
    IntakeQueue queue(kMark);
    OriginTag origin;
    NetworkIntake intake(queue, origin);
    intake.start(0);

    auto flood = connectFrom(QHostAddress(u"127.0.0.1"_s), QHostAddress::LocalHost, intake.port());
    flood->write(QByteArray(kLines, 'f').replace("f", "f\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return queue.holdsBack(); }, kWaitMs));

    // Nothing is taken from the queue meanwhile: the flood stays held all along.
    std::atomic<bool> politeArrived = false;
    const QString politeItem = item(u"127.0.0.2"_s, u"p"_s);
    QObject::connect(
        &queue, &IntakeQueue::appended, &queue,
        [&](quint64, const QString& line) {
            if (line == politeItem)
                politeArrived = true;
        },
        Qt::DirectConnection);
    auto polite = connectFrom(QHostAddress(u"127.0.0.2"_s), QHostAddress::LocalHost, intake.port());
    polite->write("p\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return politeArrived.load(); }, kWaitMs));
    EXPECT_TRUE(queue.holdsBack());

    // The flood goes on once its lines are worked off.
    QStringList taken;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            taken << takeAll(queue);
            return taken.size() == kLines + 1;
        },
        kWaitMs));
    taken.removeOne(politeItem);
    EXPECT_EQ(taken, QStringList(kLines, item(u"127.0.0.1"_s, u"f"_s)));
}

// Every line a device sent is on the disk before the tick can take it, in the order sent, and the
// lines of one read go there in one write.
TEST(NetworkIntakeJournal, JournalsEveryLineBeforeQueueingItInOrder) {
    constexpr int kLines = 2000;
    QTemporaryDir dir;
    const QString path = dir.filePath(IntakeJournal::kFileName.toString());
    IntakeJournal journal(path);
    journal.recover();
    IntakeQueue queue;
    queue.setJournal(&journal);
    // Before each write, on the intake's thread: no line may be in the queue that is not on the disk.
    std::atomic<int> writes = 0;
    std::atomic<int> queuedAhead = 0;
    journal.setWriteFault([&](qint64) {
        ++writes;
        if (queue.appendedCount() > quint64(testsupport::journaledTexts(path).size()))
            ++queuedAhead;
        return 0;
    });
    OriginTag origin;
    NetworkIntake intake(queue, origin);
    intake.start(0);
    auto device = connectFrom({}, QHostAddress::LocalHost, intake.port());
    QByteArray sent;
    QStringList expected;
    for (int i = 0; i < kLines; ++i) {
        const QByteArray line =
            "H00001!" + QByteArray::number(i).rightJustified(6, '0') + "!PQ12RS34TU56VW78XY90";
        sent += line + "\r\n";
        expected << item(u"127.0.0.1"_s, QString::fromLatin1(line));
    }
    device->write(sent);
    ASSERT_TRUE(QTest::qWaitFor([&] { return queue.size() == kLines; }, kWaitMs));
    EXPECT_EQ(queuedAhead.load(), 0);
    EXPECT_EQ(takeAll(queue), expected);
    EXPECT_EQ(testsupport::journaledTexts(path), expected);
    EXPECT_LT(writes.load(), kLines / 20) << "one write per read, not per line";
}

// Bytes on the wire that the journaled items stand for: each item is STX, origin, TAB, the line
// and its LF, and the line went with its LF.
qint64 wireBytes(const QStringList& items, const QString& origin = u"127.0.0.1"_s) {
    qint64 bytes = 0;
    for (const QString& item : items)
        bytes += item.size() - origin.size() - 2;
    return bytes;
}

// Whatever left the device and the system no longer holds for the station is in the journal, also
// while the queue holds the device back: the station keeps none of it in memory, not even the
// start of a line whose end is there to come.
TEST(NetworkIntakeJournal, EveryByteTakenOffTheSocketIsJournaledWhileTheDeviceIsHeldBack) {
    constexpr int kLines = 20000;
    QTemporaryDir dir;
    const QString path = dir.filePath(IntakeJournal::kFileName.toString());
    IntakeJournal journal(path);
    journal.recover();
    IntakeQueue queue(50);
    queue.setJournal(&journal);
    OriginTag origin;
    NetworkIntake intake(queue, origin);
    intake.start(0);
    auto device = connectFrom({}, QHostAddress::LocalHost, intake.port());
    QByteArray sent;
    for (int i = 0; i < kLines; ++i)
        sent += "H00001!" + QByteArray::number(i).rightJustified(6, '0') + "!PQ12RS34TU56VW78XY90\n";
    const QByteArray unfinished = "H00001!999999!PQ12";
    device->write(sent + unfinished);

    const quint16 devicePort = device->localPort();
    qint64 taken = -1;
    qint64 journaled = -2;
    // At rest the two agree exactly; a read under way may part them for a moment.
    const bool agree = QTest::qWaitFor(
        [&] {
            const qint64 delivered = sent.size() + unfinished.size() - device->bytesToWrite() -
                                     testsupport::unsentOn(device->socketDescriptor());
            journaled = wireBytes(testsupport::journaledTexts(path));
            taken = delivered - testsupport::unreadOnLoopback(intake.port(), devicePort);
            return queue.holdsBack() && taken == journaled;
        },
        kWaitMs);
    EXPECT_TRUE(agree) << "taken " << taken << ", journaled " << journaled;
    EXPECT_LT(queue.appendedCount(), quint64(kLines)) << "the device was never held back";

    QStringList items;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            items << takeAll(queue);
            return items.size() == kLines;
        },
        kWaitMs));
    EXPECT_EQ(testsupport::journaledTexts(path), items);
    device->write("34\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return queue.size() == 1; }, kWaitMs));
    EXPECT_EQ(takeAll(queue), QStringList{item(u"127.0.0.1"_s, u"H00001!999999!PQ1234"_s)});
}

// While the disk refuses the journal, one read at most waits in memory for it: no device is read
// on, whatever they send. Once the journal writes again, the lines it kept go first and every line
// arrives, in each device's order.
TEST(NetworkIntakeJournal, AJournalTheDiskRefusesStopsEveryDeviceAfterOneRead) {
    constexpr int kDevices = 3;
    constexpr int kLines = 3000;
    QTemporaryDir dir;
    const QString path = dir.filePath(IntakeJournal::kFileName.toString());
    IntakeJournal journal(path);
    journal.recover();
    std::atomic<bool> full = true;
    journal.setWriteFault([&](qint64) { return full ? ENOSPC : 0; });
    IntakeQueue queue;
    queue.setJournal(&journal);
    OriginTag origin;
    NetworkIntake intake(queue, origin);
    intake.start(0);

    std::vector<std::unique_ptr<QTcpSocket>> devices;
    QByteArray sent;
    for (int i = 0; i < kLines; ++i)
        sent += "H00001!" + QByteArray::number(i).rightJustified(6, '0') + "!PQ12RS34TU56VW78XY90\n";
    const qsizetype lineBytes = sent.size() / kLines;
    for (int d = 0; d < kDevices; ++d) {
        devices.push_back(
            connectFrom(QHostAddress(u"127.0.0.%1"_s.arg(d + 1)), QHostAddress::LocalHost, intake.port()));
        devices.back()->write(sent);
    }
    // Every byte has reached the station's end, so every device could be read.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const auto& device : devices) {
                if (device->bytesToWrite() > 0 || testsupport::unsentOn(device->socketDescriptor()) != 0)
                    return false;
            }
            return journal.blocked();
        },
        kWaitMs));
    QTest::qWait(200);
    EXPECT_LE(qint64(queue.appendedCount()) * lineBytes, NetworkIntake::kSocketReadBuffer);
    EXPECT_TRUE(testsupport::journaledTexts(path).isEmpty());

    full = false;
    ASSERT_TRUE(queue.retryJournal());
    QStringList items;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            items << takeAll(queue);
            return items.size() == kDevices * kLines;
        },
        kWaitMs));
    for (int d = 0; d < kDevices; ++d) {
        const QString from = u"127.0.0.%1"_s.arg(d + 1);
        QStringList own;
        for (const QString& item : items) {
            if (item.mid(1, from.size() + 1) == from + u'\t')
                own << item.mid(from.size() + 2 + 7, 6);
        }
        ASSERT_EQ(own.size(), kLines) << qPrintable(from);
        for (int i = 0; i < kLines; ++i)
            ASSERT_EQ(own[i], QString::number(i).rightJustified(6, u'0')) << qPrintable(from);
    }
    QStringList journaled = testsupport::journaledTexts(path);
    journaled.sort();
    items.sort();
    EXPECT_EQ(journaled, items);
}

TEST_F(NetworkIntakeTest, StartWhileActiveKeepsThePort) {
    const quint16 listening = intake.port();
    intake.start(freePort());
    EXPECT_TRUE(intake.isActive());
    EXPECT_EQ(intake.port(), listening);
    auto device = connect();
    EXPECT_EQ(device->state(), QAbstractSocket::ConnectedState);
}

TEST_F(NetworkIntakeTest, StopClosesEveryConnectionAndStartListensOnTheNewPort) {
    auto first = connect();
    auto second = connect();
    first->write("kept\n");
    ASSERT_TRUE(waitForItems(1));

    const quint16 old = intake.port();
    intake.stop();
    EXPECT_FALSE(intake.isActive());
    EXPECT_EQ(intake.connectionCount(), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return first->state() == QAbstractSocket::UnconnectedState &&
                   second->state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs));
    EXPECT_EQ(takeAll(queue), QStringList{item(u"127.0.0.1"_s, u"kept"_s)}); // queued lines stay

    const quint16 next = freePort();
    intake.start(next);
    EXPECT_EQ(intake.port(), next);
    auto device = connect();
    device->write("again\n");
    ASSERT_TRUE(waitForItems(1));

    QTcpSocket stale;
    stale.connectToHost(QHostAddress::LocalHost, old);
    EXPECT_FALSE(stale.waitForConnected(kWaitMs));
}

TEST(NetworkIntakeStart, ReportsAPortThatCannotBeBound) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    IntakeQueue queue;
    OriginTag origin;
    NetworkIntake intake(queue, origin);
    EXPECT_THAT(
        [&] { intake.start(holder.serverPort()); },
        ThrowsMessage<StationError>(StrEq("Could not bind socket. Address and port are already in use.")));
    EXPECT_FALSE(intake.isActive());
}

} // namespace
