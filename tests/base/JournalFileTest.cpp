#include "base/JournalFile.h"
#include "base/ByteCodec.h"
#include "base/Error.h"
#include "tests/support/QtPrinters.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

std::vector<QByteArray> readAll(const base::JournalFile& file, qint64 from, bool* damaged = nullptr) {
    base::JournalReader reader(file, from);
    std::vector<QByteArray> records;
    while (std::optional<QByteArray> r = reader.next())
        records.push_back(*r);
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

// What a power cut leaves at the end of the file: a record cut short anywhere, or one whose bytes
// never reached the disk. Reading stops before it, at the end of the last good record.
TEST(JournalFile, ReadingStopsAtATornOrCorruptTail) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"j"_s);
    base::JournalFile file(path);
    file.append("bueno");
    const qint64 good = file.size();
    file.append("roto por el corte");
    const qint64 full = file.size();
    for (qint64 cut = good + 1; cut < full; cut += 3) {
        file.truncate(cut);
        base::JournalReader reader(file, 0);
        EXPECT_EQ(reader.next(), QByteArray("bueno"));
        EXPECT_FALSE(reader.next()) << cut;
        EXPECT_TRUE(reader.damaged()) << cut;
        EXPECT_EQ(reader.position(), good);
        file.truncate(good);
        file.append("roto por el corte");
    }
    QByteArray last = file.readAt(full - 1, 1);
    last[0] = static_cast<char>(last[0] ^ 0x20);
    file.writeAt(full - 1, last);
    bool damaged = false;
    EXPECT_EQ(readAll(file, 0, &damaged).size(), 1u);
    EXPECT_TRUE(damaged);
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
