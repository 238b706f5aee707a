#include "storage/RowOutbox.h"

#include "base/Error.h"
#include "base/JournalFile.h"
#include "tests/support/QtPrinters.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

using namespace Qt::StringLiterals;
using storage::PendingRow;
using storage::RowOutbox;

namespace {

PendingRow row(int i) {
    return {
        u"L%1"_s.arg(i),
        QDateTime(QDate(2024, 3, 9), QTime(10, 42, 7)).addMSecs(i),
        {u"P01"_s, u"CAM-01"_s, u"GUÍA-%1"_s.arg(i), 12.5, 30.0, 45.5, 4.5, std::monostate{}, u"Con dim"_s}};
}

void appendRows(RowOutbox& outbox, int first, int count) {
    for (int i = first; i < first + count; ++i)
        outbox.append(row(i));
}

// Every unconfirmed row, read in small batches, as the numbers row() made them from; each row is
// checked whole.
std::vector<int> pendingRows(const RowOutbox& outbox) {
    std::vector<int> numbers;
    qint64 from = outbox.confirmedPosition();
    while (true) {
        const std::vector<RowOutbox::Entry> batch = outbox.read(from, 3);
        if (batch.empty())
            break;
        for (const RowOutbox::Entry& entry : batch) {
            const int i = entry.row.lectura.mid(1).toInt();
            EXPECT_EQ(entry.row, row(i));
            EXPECT_GT(entry.end, from);
            from = entry.end;
            numbers.push_back(i);
        }
    }
    EXPECT_EQ(from, outbox.endPosition());
    return numbers;
}

qint64 sizeOf(const QString& path) {
    return QFileInfo(path).size();
}

void changeFile(const QString& path, const std::function<void(QFile&)>& change) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    change(file);
}

void flipByteAt(QFile& file, qint64 at) {
    file.seek(at);
    char c = 0;
    file.getChar(&c);
    file.seek(at);
    file.putChar(static_cast<char>(c ^ 0x5A));
}

class RowOutboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        // What a file with nothing in it measures: the header alone.
        const QString empty = m_dir.filePath(u"vacio"_s);
        { RowOutbox outbox(empty); }
        m_headerSize = sizeOf(empty);
    }

    QTemporaryDir m_dir;
    const QString m_path = m_dir.filePath(RowOutbox::kFileName.toString());
    qint64 m_headerSize = 0;
};

} // namespace

TEST_F(RowOutboxTest, RowsComeOutInOrderAndLeaveWhenConfirmed) {
    RowOutbox outbox(m_path);
    EXPECT_TRUE(outbox.damage().isEmpty());
    EXPECT_EQ(outbox.confirmedPosition(), outbox.endPosition());
    appendRows(outbox, 0, 5);
    EXPECT_EQ(outbox.pendingCount(), 5);

    const auto first = outbox.read(outbox.confirmedPosition(), 2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].row, row(0));
    EXPECT_LT(first[0].end, first[1].end);
    const auto rest = outbox.read(first[1].end, 100);
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(rest[0].row, row(2));
    EXPECT_EQ(rest[2].end, outbox.endPosition());

    outbox.confirm(first[1].end);
    EXPECT_EQ(outbox.confirmedPosition(), first[1].end);
    EXPECT_EQ(outbox.pendingCount(), 3);
    // Confirmed rows are never handed out again, from whatever earlier position the reader asks.
    EXPECT_THAT(pendingRows(outbox), ElementsAre(2, 3, 4));
    EXPECT_EQ(outbox.read(first[0].end, 1).at(0).row, row(2));
    // A confirmation older than what was confirmed already changes nothing.
    outbox.confirm(first[0].end);
    EXPECT_EQ(outbox.pendingCount(), 3);

    outbox.confirm(rest[1].end);
    EXPECT_EQ(outbox.pendingCount(), 1);
    EXPECT_TRUE(outbox.read(outbox.endPosition(), 10).empty());
}

// A position inside a row would leave the header pointing into it, and every later opening would
// take the rest of the file for damage.
TEST_F(RowOutboxTest, PositionsThatAreNoRowBoundaryAreRefused) {
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 3);
    const auto entries = outbox.read(0, 3);
    ASSERT_EQ(entries.size(), 3u);
    // Without reading first, too: the outbox counts what leaves by reading it.
    RowOutbox reopened(m_path);
    for (RowOutbox* o : {&outbox, &reopened}) {
        EXPECT_THROW(o->confirm(entries[1].end - 1), base::Error);
        EXPECT_THROW(o->confirm(o->endPosition() + 1), base::Error);
        EXPECT_THROW(o->read(entries[0].end + 1, 1), base::Error);
        EXPECT_EQ(o->pendingCount(), 3);
    }
    reopened.confirm(entries[1].end);
    EXPECT_EQ(reopened.pendingCount(), 1);
    RowOutbox again(m_path);
    EXPECT_THAT(pendingRows(again), ElementsAre(2));
}

TEST_F(RowOutboxTest, ReopeningFindsOnlyTheUnconfirmedRows) {
    {
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, 5);
        outbox.confirm(outbox.read(0, 2).back().end);
        outbox.sync();
    }
    {
        RowOutbox outbox(m_path);
        EXPECT_TRUE(outbox.damage().isEmpty());
        EXPECT_EQ(outbox.pendingCount(), 3);
        EXPECT_THAT(pendingRows(outbox), ElementsAre(2, 3, 4));
        appendRows(outbox, 5, 1);
        EXPECT_THAT(pendingRows(outbox), ElementsAre(2, 3, 4, 5));
        outbox.confirm(outbox.endPosition());
    }
    RowOutbox outbox(m_path);
    EXPECT_EQ(outbox.pendingCount(), 0);
    EXPECT_TRUE(pendingRows(outbox).empty());
    EXPECT_EQ(sizeOf(m_path), m_headerSize);
}

TEST_F(RowOutboxTest, FileIsCutBackWhenAllIsConfirmedWhilePositionsKeepGrowing) {
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 3);
    const auto entries = outbox.read(0, 10);
    const qint64 end = outbox.endPosition();
    outbox.confirm(end);
    EXPECT_EQ(sizeOf(m_path), m_headerSize);
    EXPECT_EQ(outbox.confirmedPosition(), end);
    EXPECT_EQ(outbox.endPosition(), end);
    EXPECT_EQ(outbox.pendingCount(), 0);

    appendRows(outbox, 3, 2);
    EXPECT_GT(outbox.endPosition(), end);
    // Positions handed out before the cut still mean what they meant.
    EXPECT_TRUE(outbox.read(entries[0].end, 10).at(0).row == row(3));
    const auto after = outbox.read(end, 10);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].row, row(3));
    EXPECT_GT(after[0].end, end);
    outbox.confirm(entries[1].end); // older: nothing happens
    EXPECT_EQ(outbox.pendingCount(), 2);
    outbox.confirm(after[0].end);
    EXPECT_EQ(outbox.pendingCount(), 1);
    EXPECT_GT(sizeOf(m_path), m_headerSize);
    outbox.confirm(after[1].end);
    EXPECT_EQ(sizeOf(m_path), m_headerSize);

    RowOutbox reopened(m_path);
    EXPECT_EQ(reopened.pendingCount(), 0);
    EXPECT_TRUE(reopened.damage().isEmpty());
}

namespace {

// What a power cut, a torn write or a foreign hand can leave in the file. The rows that stand
// before the damage stay, nothing after it is sent, and nothing confirmed comes back unless the
// record of what was confirmed is itself lost (then everything is sent again rather than lost).
struct DamageCase {
    const char* name;
    // The file holds rows 0..2, row 0 confirmed; `ends` are where the rows end in the file.
    std::function<void(QFile& file, const std::vector<qint64>& ends)> spoil;
    std::vector<int> kept;
    const char* damage; // a piece of the text told, or empty when nothing is
};

class RowOutboxDamage : public RowOutboxTest, public ::testing::WithParamInterface<DamageCase> {};

} // namespace

TEST_P(RowOutboxDamage, RowsBeforeTheDamageStayAndNoneIsSentHalf) {
    std::vector<qint64> ends;
    {
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, 3);
        const qint64 base = outbox.confirmedPosition();
        for (const RowOutbox::Entry& entry : outbox.read(base, 10))
            ends.push_back(m_headerSize + entry.end - base);
        outbox.confirm(outbox.read(base, 1).at(0).end);
    }
    ASSERT_EQ(ends.back(), sizeOf(m_path));
    changeFile(m_path, [&](QFile& file) { GetParam().spoil(file, ends); });
    const qint64 spoiled = sizeOf(m_path);
    RowOutbox outbox(m_path);
    EXPECT_EQ(pendingRows(outbox), GetParam().kept);
    EXPECT_EQ(outbox.pendingCount(), qint64(GetParam().kept.size()));
    const std::string damage = GetParam().damage;
    if (damage.empty()) {
        EXPECT_TRUE(outbox.damage().isEmpty()) << outbox.damage().toStdString();
    } else {
        EXPECT_THAT(outbox.damage().toStdString(), HasSubstr(damage));
        EXPECT_THAT(outbox.damage().toStdString(), HasSubstr(m_path.toStdString()));
    }
    const qint64 goodEnd = GetParam().kept.empty() ? ends[0] : ends[GetParam().kept.back()];
    if (spoiled > goodEnd) {
        EXPECT_THAT(outbox.damage().toStdString(),
                    HasSubstr(u"descartaron %1 bytes"_s.arg(spoiled - goodEnd).toStdString()));
    }

    // The cut is for good: the next opening finds the same rows, a new one after them, and no damage.
    appendRows(outbox, 9, 1);
    std::vector<int> expected = GetParam().kept;
    expected.push_back(9);
    RowOutbox again(m_path);
    EXPECT_TRUE(again.damage().isEmpty());
    EXPECT_EQ(pendingRows(again), expected);
}

namespace {

void cutAt(QFile& file, qint64 size) {
    file.resize(size);
}

// The header's two slots start after the magic and the version, 16 bytes in; a confirm writes the
// slot the newest is not in, the first one going to the second slot.
constexpr qint64 kFirstSlot = 16;
constexpr qint64 kSlotSize = 24;

} // namespace

// clang-format off
INSTANTIATE_TEST_SUITE_P(Spoiled, RowOutboxDamage, ::testing::Values(
    DamageCase{"Intact", [](QFile&, const auto&) {}, {1, 2}, ""},
    DamageCase{"CutInsideTheLastFrame", [](QFile& f, const auto& e) { cutAt(f, e[1] + 3); }, {1}, "dañado"},
    DamageCase{"CutAfterTheLastFrame", [](QFile& f, const auto& e) { cutAt(f, e[1] + 8); }, {1}, "dañado"},
    DamageCase{"CutInsideTheLastRow", [](QFile& f, const auto& e) { cutAt(f, e[1] + 20); }, {1}, "dañado"},
    DamageCase{"LastByteMissing", [](QFile& f, const auto& e) { cutAt(f, e[2] - 1); }, {1}, "dañado"},
    DamageCase{"CutAtARowsEnd", [](QFile& f, const auto& e) { cutAt(f, e[1]); }, {1}, ""},
    DamageCase{"ByteFlippedInTheLastRow", [](QFile& f, const auto& e) { flipByteAt(f, e[2] - 5); }, {1},
               "dañado"},
    DamageCase{"ByteFlippedInTheMiddleRow", [](QFile& f, const auto& e) { flipByteAt(f, e[1] - 5); }, {},
               "dañado"},
    DamageCase{"GarbageAppended", [](QFile& f, const auto&) { f.seek(f.size()); f.write("basura"); },
               {1, 2}, "descartaron 6 bytes"},
    // Framed and checksummed well, but no row: written by something else.
    DamageCase{"ForeignRecordAppended",
               [](QFile& f, const auto&) { f.seek(f.size()); f.write(base::JournalFile::frame("no es fila")); },
               {1, 2}, "dañado"},
    // A torn write of the newest slot leaves the older one, which confirmed less.
    DamageCase{"NewestSlotTorn", [](QFile& f, const auto&) { flipByteAt(f, kFirstSlot + kSlotSize + 3); },
               {0, 1, 2}, ""},
    DamageCase{"BothSlotsSpoiled",
               [](QFile& f, const auto&) {
                   flipByteAt(f, kFirstSlot + 3);
                   flipByteAt(f, kFirstSlot + kSlotSize + 3);
               },
               {0, 1, 2}, "encabezado"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(RowOutboxTest, AFileThatIsNoOutboxIsLeftAsItIs) {
    for (const QByteArray& content :
         {QByteArray("Query-fallido\r\n"), QByteArray("ORVFILA_"), QByteArray("x"), QByteArray(200, '\0'),
          // Ours, but from a version this station does not know.
          QByteArray("ORVFILAS\x02\0\0\0", 12) + QByteArray(52, '\0')}) {
        {
            QFile file(m_path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
        }
        EXPECT_THAT([&] { RowOutbox outbox(m_path); },
                    ThrowsMessage<base::Error>(HasSubstr(m_path.toStdString())))
            << content.toStdString();
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), content);
    }
}

// Its first write cut short by a power cut: no row can be in it yet, it is simply begun again.
TEST_F(RowOutboxTest, AHeaderCutShortIsBegunAgain) {
    { RowOutbox outbox(m_path); }
    for (const qint64 size : {m_headerSize - 1, qint64(5)}) {
        changeFile(m_path, [&](QFile& file) { cutAt(file, size); });
        RowOutbox outbox(m_path);
        EXPECT_EQ(outbox.pendingCount(), 0);
        EXPECT_TRUE(outbox.damage().isEmpty());
        appendRows(outbox, 0, 1);
        RowOutbox reopened(m_path);
        EXPECT_THAT(pendingRows(reopened), ElementsAre(0));
    }
}

TEST_F(RowOutboxTest, ARefusingDiskKeepsRowsInMemoryUntilARetryWritesThemInOrder) {
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 2);
    outbox.confirm(outbox.read(0, 1).at(0).end);
    const qint64 written = outbox.endPosition();
    outbox.setWriteFault([](qint64) { return ENOSPC; });
    appendRows(outbox, 2, 3);
    EXPECT_TRUE(outbox.blocked());
    EXPECT_THAT(outbox.blockedReason().toStdString(), HasSubstr(m_path.toStdString()));
    EXPECT_EQ(outbox.pendingCount(), 4);
    EXPECT_EQ(outbox.endPosition(), written);
    EXPECT_THAT(pendingRows(outbox), ElementsAre(1));
    EXPECT_FALSE(outbox.retry());
    EXPECT_TRUE(outbox.blocked());

    // The written rows leave while the disk still refuses: the file is cut back but its header,
    // which confirms past the cut, cannot be written. The next write must put it right before any
    // row goes in, or the next opening would take the new rows for damage.
    outbox.confirm(written);
    EXPECT_EQ(outbox.pendingCount(), 3);
    EXPECT_THROW(outbox.sync(), base::Error);

    outbox.setWriteFault({});
    EXPECT_TRUE(outbox.retry());
    EXPECT_FALSE(outbox.blocked());
    EXPECT_TRUE(outbox.blockedReason().isEmpty());
    {
        RowOutbox reopened(m_path);
        EXPECT_TRUE(reopened.damage().isEmpty());
        EXPECT_THAT(pendingRows(reopened), ElementsAre(2, 3, 4));
    }
    appendRows(outbox, 5, 1);
    EXPECT_EQ(outbox.pendingCount(), 4);
    EXPECT_THAT(pendingRows(outbox), ElementsAre(2, 3, 4, 5));
}

// The core appends while the writer reads and confirms and the group commit syncs: every row
// arrives once, in order, also across the cuts the writer's confirmations make while rows keep
// coming.
TEST_F(RowOutboxTest, ConcurrentAppendsReadsAndConfirmationsLoseNothing) {
    constexpr int kRows = 20000;
    RowOutbox outbox(m_path);
    std::atomic<bool> appending = true;
    std::thread core([&] {
        appendRows(outbox, 0, kRows);
        appending = false;
    });
    std::thread groupCommit([&] {
        while (appending)
            outbox.sync();
    });

    int next = 0;
    int confirmedRows = 0;
    int batches = 0;
    bool inOrder = true;
    qint64 from = outbox.confirmedPosition();
    const QDeadlineTimer deadline(60000);
    while (next < kRows && !deadline.hasExpired()) {
        const auto batch = outbox.read(from, 1 + next % 97);
        if (batch.empty()) {
            std::this_thread::yield();
            continue;
        }
        for (const RowOutbox::Entry& entry : batch)
            inOrder = inOrder && entry.row == row(next++);
        from = batch.back().end;
        // Now and then the writer falls back to what was confirmed, as after a lost connection.
        if (++batches % 7 == 0) {
            from = outbox.confirmedPosition();
            next = confirmedRows;
        } else {
            outbox.confirm(from);
            confirmedRows = next;
        }
    }
    core.join();
    groupCommit.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next, kRows);
    outbox.confirm(outbox.endPosition());
    EXPECT_EQ(outbox.pendingCount(), 0);
    EXPECT_EQ(sizeOf(m_path), m_headerSize);
}

// A day offline leaves millions of rows: they stay on the disk, only counted, and come back in
// order across a restart.
TEST_F(RowOutboxTest, ManyRowsComeBackInBatchesAfterReopening) {
    constexpr int kRows = 200000;
    {
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, kRows);
        EXPECT_EQ(outbox.pendingCount(), kRows);
    }
    RowOutbox outbox(m_path);
    EXPECT_EQ(outbox.pendingCount(), kRows);
    int next = 0;
    bool inOrder = true;
    while (true) {
        const auto batch = outbox.read(outbox.confirmedPosition(), 5000);
        if (batch.empty())
            break;
        for (const RowOutbox::Entry& entry : batch)
            inOrder = inOrder && entry.row == row(next++);
        outbox.confirm(batch.back().end);
        EXPECT_EQ(outbox.pendingCount(), kRows - next);
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next, kRows);
    EXPECT_EQ(sizeOf(m_path), m_headerSize);
}
