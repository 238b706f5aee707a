#include "base/JournalFile.h"
#include "base/ByteCodec.h"
#include "base/Error.h"
#include "tests/support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

std::vector<QByteArray> readAll(const base::JournalFile& file, qint64 from, bool* damaged = nullptr) {
    base::JournalReader reader(file, from);
    std::vector<QByteArray> records;
    while (std::optional<base::JournalRecord> r = reader.next())
        records.push_back(r->bytes);
    if (damaged)
        *damaged = reader.damaged();
    return records;
}

} // namespace

TEST(JournalFile, RecordsComeBackInOrderAcrossReopening) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"j"_s);
    {
        base::JournalFile file(path);
        file.append(QList<QByteArray>{"uno", QByteArray(), QByteArray(300000, 'x')});
        file.append("cuatro");
    }
    base::JournalFile file(path);
    bool damaged = true;
    const auto records = readAll(file, 0, &damaged);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0], "uno");
    EXPECT_TRUE(records[1].isEmpty());
    EXPECT_EQ(records[2].size(), 300000);
    EXPECT_EQ(records[3], "cuatro");
    EXPECT_FALSE(damaged);
}

namespace {

// Five records, then the damage: what the reader gives back, and the stretch it skipped with the
// records the numbers on either side say were lost.
struct SkipCase {
    const char* name;
    std::function<void(base::JournalFile&, const std::vector<qint64>& ends)> spoil;
    std::vector<QByteArray> kept;
    std::optional<quint64> lost; // in the one stretch skipped
};

class JournalDamage : public ::testing::TestWithParam<SkipCase> {};

void flip(base::JournalFile& file, qint64 at) {
    QByteArray b = file.readAt(at, 1);
    b[0] = char(b[0] ^ 0x5A);
    file.writeAt(at, b);
}

} // namespace

TEST_P(JournalDamage, OnlyTheDamagedRecordsAreLost) {
    QTemporaryDir dir;
    base::JournalFile file(dir.filePath(u"j"_s));
    std::vector<qint64> ends;
    for (const char* r : {"r1", "r2 algo mas largo", "r3", "r4", "r5"}) {
        file.append(QByteArray(r));
        ends.push_back(file.size());
    }
    GetParam().spoil(file, ends);
    base::JournalReader reader(file, 0, quint64(0));
    std::vector<QByteArray> records;
    while (std::optional<base::JournalRecord> r = reader.next())
        records.push_back(r->bytes);
    EXPECT_EQ(records, GetParam().kept);
    ASSERT_EQ(reader.skipped().size(), 1u);
    EXPECT_EQ(reader.skipped()[0].lost, GetParam().lost);
    EXPECT_EQ(reader.position(), file.size());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Spoiled, JournalDamage, ::testing::Values(
    SkipCase{"FirstRecordPayload", [](auto& f, const auto&) { flip(f, 17); }, {"r2 algo mas largo", "r3", "r4", "r5"}, 1},
    SkipCase{"FirstRecordLength", [](auto& f, const auto&) { flip(f, 1); }, {"r2 algo mas largo", "r3", "r4", "r5"}, 1},
    SkipCase{"MiddleRecordNumber", [](auto& f, const auto& e) { flip(f, e[1] + 9); }, {"r1", "r2 algo mas largo", "r4", "r5"}, 1},
    SkipCase{"TwoMiddleRecordsZeroed",
             [](auto& f, const auto& e) { f.writeAt(e[0] + 3, QByteArray(e[2] - e[0] - 3, '\0')); },
             {"r1", "r4", "r5"}, 2},
    SkipCase{"LastRecordCutShort", [](auto& f, const auto& e) { f.truncate(e[4] - 1); }, {"r1", "r2 algo mas largo", "r3", "r4"}, std::nullopt},
    SkipCase{"GarbageAfterTheEnd", [](auto& f, const auto& e) { f.writeAt(e[4], "basura"); }, {"r1", "r2 algo mas largo", "r3", "r4", "r5"}, std::nullopt},
    // What a power cut can bring back past a cut-back: a whole record older than the one before it.
    SkipCase{"OlderRecordAfterNewer",
             [](auto& f, const auto& e) { f.writeAt(e[4], base::JournalFile::frame(2, "viejo")); },
             {"r1", "r2 algo mas largo", "r3", "r4", "r5"}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(JournalFile, APathRemovedOrReplacedIsNoticed) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"j"_s);
    base::JournalFile file(path);
    EXPECT_TRUE(file.stillAtPath());
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(file.stillAtPath());
    QFile other(path);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    EXPECT_FALSE(file.stillAtPath());
    const auto put =
        base::JournalFile::replace(path, base::JournalFile::frame(1, "nuevo"), base::JournalIo::real());
    EXPECT_TRUE(put->stillAtPath());
    EXPECT_EQ(readAll(*put, 0), std::vector<QByteArray>{"nuevo"});
}

TEST(JournalFile, AFailedWriteLeavesNothingOfItself) {
    QTemporaryDir dir;
    base::JournalFile file(dir.filePath(u"j"_s));
    file.append("antes");
    const qint64 size = file.size();
    file.setWriteFault([](qint64) { return ENOSPC; });
    EXPECT_THROW(file.append("lleno"), base::Error);
    EXPECT_EQ(file.size(), size);
    file.setWriteFault({});
    file.append("despues");
    const auto records = readAll(file, 0);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1], "despues");
}

TEST(JournalFile, AFileThatCannotBeOpenedSaysWhich) {
    EXPECT_THAT([] { base::JournalFile file(u"/no/existe/j"_s); },
                testing::ThrowsMessage<base::Error>(testing::HasSubstr("/no/existe/j")));
}

TEST(ByteCodec, ReadsBackWhatWasWrittenAndFailsPastTheEnd) {
    QByteArray bytes;
    base::ByteWriter(bytes).put(quint64(7)).put(u"guía"_s).put(2.5);
    base::ByteReader reader(bytes);
    quint64 n = 0;
    QString text;
    double d = 0;
    ASSERT_TRUE(reader.get(n) && reader.get(text) && reader.get(d));
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(text, u"guía"_s);
    EXPECT_EQ(d, 2.5);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.get(n));
    base::ByteReader cut(QByteArrayView(bytes).first(10));
    EXPECT_TRUE(cut.get(n));
    EXPECT_FALSE(cut.get(text));
}

// The journals' checksum is CRC-32C whichever way it is computed: the standard check value, and
// every length around the eight-byte steps against a plain bit-by-bit reading of the polynomial.
TEST(Crc32c, IsTheCastagnoliChecksumForEveryLength) {
    EXPECT_EQ(base::crc32c("123456789"), 0xE3069283u);
    const auto bitwise = [](QByteArrayView bytes) {
        quint32 c = 0xFFFFFFFFu;
        for (const char b : bytes) {
            c ^= static_cast<unsigned char>(b);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    };
    QByteArray bytes;
    for (int length = 0; length < 40; ++length) {
        EXPECT_EQ(base::crc32c(bytes), bitwise(bytes)) << length;
        bytes.append(char(length * 37 + 11));
    }
}
