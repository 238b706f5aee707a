#include "storage/RowOutbox.h"

#include "base/Error.h"
#include "base/JournalFile.h"
#include "tests/support/QtPrinters.h"

#include <QDeadlineTimer>
#include <QDir>
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

    // A read takes ahead about what its rows need: a far longer row still comes back whole, with
    // the rows on either side of it.
    PendingRow longRow = row(5);
    longRow.values[2] = QString(40000, u'G');
    outbox.append(longRow);
    appendRows(outbox, 6, 1);
    const auto alone = outbox.read(rest[2].end, 1);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0].row, longRow);
    const auto around = outbox.read(outbox.confirmedPosition(), 3);
    ASSERT_EQ(around.size(), 3u);
    EXPECT_EQ(around[0].row, row(4));
    EXPECT_EQ(around[1].row, longRow);
    EXPECT_EQ(around[2].row, row(6));
}

// A position inside a row would leave the header pointing into it, and every later opening would
// take the rest of the file for damage.
TEST_F(RowOutboxTest, PositionsThatAreNoRowBoundaryAreRefused) {
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 3);
    const auto entries = outbox.read(0, 3);
    ASSERT_EQ(entries.size(), 3u);
    // Without reading first, too: the outbox counts what leaves by reading it. The first checks
    // meet the rows in memory, the reopened outbox's meet them in the file.
    outbox.sync();
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
    outbox.sync();
    EXPECT_GT(sizeOf(m_path), m_headerSize);
    outbox.confirm(after[1].end);
    EXPECT_EQ(sizeOf(m_path), m_headerSize);

    RowOutbox reopened(m_path);
    EXPECT_EQ(reopened.pendingCount(), 0);
    EXPECT_TRUE(reopened.damage().isEmpty());
}

namespace {

// What a power cut, a torn write or a foreign hand can leave in the file. Only the rows the damage
// hit are lost; nothing confirmed comes back unless the record of what was confirmed is itself lost
// (then every row is sent again rather than lost); the damaged file is kept aside as it was.
struct DamageCase {
    const char* name;
    // The file holds rows 0..3, row 0 confirmed; `ends` are where the rows end in the file.
    std::function<void(const QString& path, const std::vector<qint64>& ends)> spoil;
    std::vector<int> kept;
    const char* damage; // a piece of the text told, or empty when nothing is (nor kept aside)
};

class RowOutboxDamage : public RowOutboxTest, public ::testing::WithParamInterface<DamageCase> {};

QStringList asideFiles(const QString& folder) {
    return QDir(folder).entryList({u"*.da\u00f1ado-*"_s}, QDir::Files);
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_P(RowOutboxDamage, OnlyTheRowsTheDamageHitAreLost) {
    std::vector<qint64> ends;
    {
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, 4);
        outbox.sync(); // all four in the file, the confirmed one too
        const qint64 base = outbox.confirmedPosition();
        for (const RowOutbox::Entry& entry : outbox.read(base, 10))
            ends.push_back(m_headerSize + entry.end - base);
        outbox.confirm(outbox.read(base, 1).at(0).end);
    }
    ASSERT_EQ(ends.back(), sizeOf(m_path));
    GetParam().spoil(m_path, ends);
    const QByteArray spoiled = contentsOf(m_path);
    RowOutbox outbox(m_path);
    EXPECT_FALSE(outbox.blocked());
    EXPECT_EQ(pendingRows(outbox), GetParam().kept);
    EXPECT_EQ(outbox.pendingCount(), qint64(GetParam().kept.size()));
    const std::string damage = GetParam().damage;
    const QStringList aside = asideFiles(m_dir.path());
    if (damage.empty()) {
        EXPECT_TRUE(outbox.damage().isEmpty()) << outbox.damage().toStdString();
        EXPECT_TRUE(aside.isEmpty());
    } else {
        EXPECT_THAT(outbox.damage().toStdString(), HasSubstr(damage));
        EXPECT_THAT(outbox.damage().toStdString(), HasSubstr(m_path.toStdString()));
        ASSERT_EQ(aside.size(), 1);
        EXPECT_THAT(outbox.damage().toStdString(), HasSubstr(aside[0].toStdString()));
        EXPECT_EQ(contentsOf(m_dir.filePath(aside[0])), spoiled);
    }

    // The repair is for good: the next opening finds the same rows, a new one after them, and no damage.
    appendRows(outbox, 9, 1);
    outbox.sync();
    std::vector<int> expected = GetParam().kept;
    expected.push_back(9);
    RowOutbox again(m_path);
    EXPECT_TRUE(again.damage().isEmpty()) << again.damage().toStdString();
    EXPECT_EQ(pendingRows(again), expected);
}

namespace {

void cutAt(const QString& path, qint64 size) {
    QFile(path).resize(size);
}

void flipByteAt(const QString& path, qint64 at) {
    changeFile(path, [&](QFile& file) { flipByteAt(file, at); });
}

void writeAt(const QString& path, qint64 at, const QByteArray& bytes) {
    changeFile(path, [&](QFile& file) {
        file.seek(at);
        file.write(bytes);
    });
}

// The header's two slots start after the magic and the version, 16 bytes in; a confirm writes the
// slot the newest is not in, the first one going to the second slot.
constexpr qint64 kFirstSlot = 16;
constexpr qint64 kSlotSize = 32;

} // namespace

// clang-format off
INSTANTIATE_TEST_SUITE_P(Spoiled, RowOutboxDamage, ::testing::Values(
    DamageCase{"Intact", [](const QString&, const auto&) {}, {1, 2, 3}, ""},
    DamageCase{"CutAtARowsEnd", [](const QString& p, const auto& e) { cutAt(p, e[2]); }, {1, 2}, ""},
    DamageCase{"CutInsideTheLastRow", [](const QString& p, const auto& e) { cutAt(p, e[2] + 20); }, {1, 2},
               "\u00faltimos 20 bytes"},
    DamageCase{"ByteFlippedInTheFirstRow", [](const QString& p, const auto& e) { flipByteAt(p, e[1] - 5); },
               {2, 3}, "se perdieron 1 fila entre los bytes"},
    DamageCase{"ByteFlippedInTheMiddleRow", [](const QString& p, const auto& e) { flipByteAt(p, e[2] - 5); },
               {1, 3}, "se perdieron 1 fila entre los bytes"},
    DamageCase{"ByteFlippedInTheLastRow", [](const QString& p, const auto& e) { flipByteAt(p, e[3] - 5); },
               {1, 2}, "\u00faltimos"},
    // Before the confirmed position: never read again.
    DamageCase{"ByteFlippedInAConfirmedRow", [](const QString& p, const auto& e) { flipByteAt(p, e[0] - 5); },
               {1, 2, 3}, ""},
    DamageCase{"GarbageAppended", [](const QString& p, const auto& e) { writeAt(p, e[3], "basura"); },
               {1, 2, 3}, "\u00faltimos 6 bytes"},
    // Framed and checksummed well, but no row: written by something else.
    DamageCase{"ForeignRecordAppended",
               [](const QString& p, const auto& e) { writeAt(p, e[3], base::JournalFile::frame(99, "no es fila")); },
               {1, 2, 3}, "no eran filas"},
    // A torn write of the newest slot leaves the older one, which confirmed less.
    DamageCase{"NewestSlotTorn", [](const QString& p, const auto&) { flipByteAt(p, kFirstSlot + kSlotSize + 3); },
               {0, 1, 2, 3}, ""},
    DamageCase{"BothSlotsSpoiled",
               [](const QString& p, const auto&) {
                   flipByteAt(p, kFirstSlot + 3);
                   flipByteAt(p, kFirstSlot + kSlotSize + 3);
               },
               {0, 1, 2, 3}, "encabezado"},
    DamageCase{"MagicZeroed", [](const QString& p, const auto&) { writeAt(p, 0, QByteArray(8, '\0')); },
               {0, 1, 2, 3}, "encabezado"},
    DamageCase{"GarbageFile",
               [](const QString& p, const auto&) {
                   QFile f(p);
                   ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                   f.write(QByteArray(300, 'x'));
               },
               {}, "encabezado"},
    // Nothing can be done about a file removed while the station was stopped: it starts empty.
    DamageCase{"RemovedWhileStopped", [](const QString& p, const auto&) { QFile::remove(p); }, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(RowOutboxTest, AFolderInItsPlaceBlocksUntilTheFileCanBeOpened) {
    ASSERT_TRUE(QDir().mkdir(m_path));
    RowOutbox outbox(m_path);
    EXPECT_TRUE(outbox.blocked());
    EXPECT_THAT(outbox.blockedReason().toStdString(), HasSubstr(m_path.toStdString()));
    appendRows(outbox, 0, 2);
    EXPECT_EQ(outbox.pendingCount(), 2);
    EXPECT_FALSE(outbox.retry());
    ASSERT_TRUE(QDir().rmdir(m_path));
    EXPECT_TRUE(outbox.retry());
    EXPECT_FALSE(outbox.blocked());
    EXPECT_THAT(outbox.takeNotices().join(u' ').toStdString(), HasSubstr("se pudo abrir"));
    RowOutbox reopened(m_path);
    EXPECT_THAT(pendingRows(reopened), ElementsAre(0, 1));
}

// Removed, or replaced by another file, while the station runs: noticed at the next flush or
// check, written again with every unconfirmed row, told once; nothing is lost.
TEST_F(RowOutboxTest, AFileRemovedOrReplacedWhileRunningIsWrittenAgain) {
    for (const bool replaced : {false, true}) {
        QFile::remove(m_path);
        for (const QString& name : asideFiles(m_dir.path()))
            QFile::remove(m_dir.filePath(name));
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, 3);
        outbox.confirm(outbox.read(outbox.confirmedPosition(), 1).at(0).end);
        ASSERT_TRUE(QFile::remove(m_path));
        if (replaced) {
            QFile other(m_path);
            ASSERT_TRUE(other.open(QIODevice::WriteOnly));
            other.write("otro");
        }
        appendRows(outbox, 3, 1);
        outbox.sync();
        const QString told = outbox.takeNotices().join(u' ');
        EXPECT_THAT(told.toStdString(), HasSubstr("borrado o reemplazado"));
        EXPECT_THAT(told.toStdString(), HasSubstr("3 filas"));
        EXPECT_EQ(asideFiles(m_dir.path()).size(), replaced ? 1 : 0);
        outbox.checkFile();
        EXPECT_TRUE(outbox.takeNotices().isEmpty()) << "told twice";
        appendRows(outbox, 4, 1);
        EXPECT_THAT(pendingRows(outbox), ElementsAre(1, 2, 3, 4));
        outbox.confirm(outbox.read(outbox.confirmedPosition(), 1).at(0).end);
        outbox.sync();
        RowOutbox reopened(m_path);
        EXPECT_THAT(pendingRows(reopened), ElementsAre(2, 3, 4));
    }
}

// Removed, and a folder put in its place: the file cannot be written again, so the rows that wait
// are not forced (the sync says so, and their lines stay undone) and no new one is taken, until it
// can. Also while no file could be opened at all.
TEST_F(RowOutboxTest, RowsThatCannotReachAFileAreNeverTakenForForced) {
    {
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, 2);
        outbox.sync();
        ASSERT_TRUE(QFile::remove(m_path));
        ASSERT_TRUE(QDir().mkdir(m_path));
        appendRows(outbox, 2, 1);
        EXPECT_THROW(outbox.sync(), base::Error);
        EXPECT_TRUE(outbox.blocked());
        EXPECT_THAT(outbox.blockedReason().toStdString(), HasSubstr("no se pudo escribir de nuevo"));
        EXPECT_FALSE(outbox.retry());
        ASSERT_TRUE(QDir().rmdir(m_path));
        EXPECT_TRUE(outbox.retry());
        EXPECT_FALSE(outbox.blocked());
        outbox.sync();
        RowOutbox reopened(m_path);
        EXPECT_THAT(pendingRows(reopened), ElementsAre(0, 1, 2));
    }
    ASSERT_TRUE(QFile::remove(m_path));
    ASSERT_TRUE(QDir().mkdir(m_path));
    RowOutbox unopened(m_path);
    appendRows(unopened, 0, 1);
    EXPECT_THROW(unopened.sync(), base::Error);
}

// Rows an earlier version left in a spare file are taken over, and the spare removed.
TEST_F(RowOutboxTest, RowsOfASpareFileAreTakenOver) {
    const QString spare = m_dir.filePath(u"repuesto"_s);
    {
        RowOutbox other(spare);
        appendRows(other, 5, 2);
    }
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 1);
    EXPECT_EQ(outbox.adopt(spare), 2);
    EXPECT_FALSE(QFileInfo::exists(spare));
    EXPECT_EQ(outbox.adopt(spare), 0);
    RowOutbox reopened(m_path);
    EXPECT_THAT(pendingRows(reopened), ElementsAre(0, 5, 6));
}

// Its first write cut short by a power cut: no row can be in it yet, it is simply begun again.
TEST_F(RowOutboxTest, AHeaderCutShortIsBegunAgain) {
    { RowOutbox outbox(m_path); }
    for (const qint64 size : {m_headerSize - 1, qint64(5)}) {
        cutAt(m_path, size);
        RowOutbox outbox(m_path);
        EXPECT_EQ(outbox.pendingCount(), 0);
        EXPECT_TRUE(outbox.damage().isEmpty());
        appendRows(outbox, 0, 1);
        outbox.sync();
        RowOutbox reopened(m_path);
        EXPECT_THAT(pendingRows(reopened), ElementsAre(0));
    }
}

TEST_F(RowOutboxTest, ARefusingDiskKeepsRowsInMemoryUntilARetryWritesThemInOrder) {
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 2);
    outbox.sync();
    outbox.confirm(outbox.read(0, 1).at(0).end);
    const qint64 written = outbox.endPosition();
    outbox.setWriteFault([](qint64) { return ENOSPC; });
    appendRows(outbox, 2, 3);
    // The sync is where the refusal shows: the group commit then leaves the rows' lines undone.
    EXPECT_FALSE(outbox.blocked());
    EXPECT_THROW(outbox.sync(), base::Error);
    EXPECT_TRUE(outbox.blocked());
    EXPECT_THAT(outbox.blockedReason().toStdString(), HasSubstr(m_path.toStdString()));
    EXPECT_EQ(outbox.pendingCount(), 4);
    // The database still gets them meanwhile.
    EXPECT_THAT(pendingRows(outbox), ElementsAre(1, 2, 3, 4));
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

// Rows wait in memory for the group commit's sync; those the database confirmed before it never
// reach the file, and the numbers of the rows that do still tell the next opening what is pending.
TEST_F(RowOutboxTest, RowsConfirmedBeforeTheSyncNeverReachTheFile) {
    RowOutbox outbox(m_path);
    appendRows(outbox, 0, 3);
    EXPECT_EQ(sizeOf(m_path), m_headerSize);
    const auto entries = outbox.read(outbox.confirmedPosition(), 10);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].row, row(2));
    outbox.confirm(entries[1].end);
    outbox.sync();
    EXPECT_EQ(sizeOf(m_path), m_headerSize + base::JournalFile::kFrame + row(2).encoded().size());

    // One row confirmed from the file, the next from memory, the last one left.
    appendRows(outbox, 3, 2);
    outbox.confirm(outbox.read(outbox.confirmedPosition(), 2).at(1).end);
    outbox.sync();
    RowOutbox reopened(m_path);
    EXPECT_TRUE(reopened.damage().isEmpty()) << reopened.damage().toStdString();
    EXPECT_THAT(pendingRows(reopened), ElementsAre(4));
}

// An outbox that goes while rows still wait in memory writes them first: a close loses none.
TEST_F(RowOutboxTest, RowsLeftInMemoryAreWrittenWhenTheOutboxGoes) {
    {
        RowOutbox outbox(m_path);
        appendRows(outbox, 0, 2);
        outbox.sync();
        appendRows(outbox, 2, 2);
        EXPECT_EQ(sizeOf(m_path), m_headerSize + 2 * (base::JournalFile::kFrame + row(0).encoded().size()));
    }
    RowOutbox reopened(m_path);
    EXPECT_THAT(pendingRows(reopened), ElementsAre(0, 1, 2, 3));
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

namespace {

template <typename T> void putRaw(QByteArray& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A row as the former format framed it: length, then a CRC-32C of the row's bytes alone.
QByteArray formerFrame(const QByteArray& record) {
    QByteArray out;
    putRaw(out, quint32(record.size()));
    putRaw(out, base::crc32c(record));
    return out + record;
}

// A former header slot: generation, confirmed offset, a CRC-32C of both, 4 bytes unused.
QByteArray formerSlot(quint64 generation, qint64 confirmed) {
    QByteArray out;
    putRaw(out, generation);
    putRaw(out, confirmed);
    putRaw(out, base::crc32c(out));
    putRaw(out, quint32(0));
    return out;
}

} // namespace

// A station upgraded with rows waiting: the former file's unconfirmed rows, up to where that version
// stopped reading, are sent in their order, once, from a file of the present format.
TEST_F(RowOutboxTest, RowsWaitingInAFormerFormatFileAreCarriedOver) {
    constexpr qint64 kFormerHeader = 64;
    QByteArray rows;
    std::vector<qint64> ends;
    for (int i = 0; i < 4; ++i) {
        rows += formerFrame(row(i).encoded());
        ends.push_back(kFormerHeader + rows.size());
    }
    // The newer slot confirmed rows 0 and 1; a power cut tore the write of row 4.
    QByteArray former("ORVFILAS");
    putRaw(former, quint32(1));
    putRaw(former, quint32(0));
    former +=
        formerSlot(7, ends[1]) + formerSlot(6, ends[0]) + rows + formerFrame(row(4).encoded()).first(20);
    {
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(former);
    }

    {
        RowOutbox outbox(m_path);
        EXPECT_FALSE(outbox.blocked());
        EXPECT_TRUE(outbox.damage().isEmpty()) << outbox.damage().toStdString();
        EXPECT_EQ(outbox.pendingCount(), 2);
        EXPECT_THAT(pendingRows(outbox), ElementsAre(2, 3));
        const QStringList notices = outbox.takeNotices();
        ASSERT_EQ(notices.size(), 1);
        EXPECT_THAT(notices[0].toStdString(), HasSubstr("formato anterior: sus 2 filas en espera"));
        const QStringList aside = QDir(m_dir.path()).entryList({u"*.anterior-*"_s}, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_THAT(notices[0].toStdString(), HasSubstr(aside[0].toStdString()));
        EXPECT_EQ(contentsOf(m_dir.filePath(aside[0])), former);
        outbox.confirm(outbox.read(outbox.confirmedPosition(), 1).at(0).end);
        appendRows(outbox, 9, 1);
    }
    // Now of the present format: read as any other, converted no more.
    RowOutbox again(m_path);
    EXPECT_TRUE(again.damage().isEmpty()) << again.damage().toStdString();
    EXPECT_TRUE(again.takeNotices().isEmpty());
    EXPECT_THAT(pendingRows(again), ElementsAre(3, 9));
}
