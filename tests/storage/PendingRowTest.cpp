#include "storage/PendingRow.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;
using storage::PendingRow;

namespace {

struct RowCase {
    const char* name;
    PendingRow row;
};

class PendingRowRoundTrip : public ::testing::TestWithParam<RowCase> {};

const QDateTime kMoment(QDate(2024, 3, 9), QTime(10, 42, 7, 125));

} // namespace

TEST_P(PendingRowRoundTrip, ComesBackAsItWas) {
    const PendingRow& row = GetParam().row;
    const std::optional<PendingRow> back = PendingRow::decoded(row.encoded());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, row);
    EXPECT_EQ(back->processedAt.time.msecsSinceStartOfDay(), row.processedAt.time.msecsSinceStartOfDay());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, PendingRowRoundTrip, ::testing::Values(
    RowCase{"TypicalRow", {u"00000000deadbeef0000000000000001"_s, kMoment,
                           {u"P01"_s, u"CAM-01"_s, u"GUIA0001"_s, 12.5, 30.0, 45.5, 4.5, 3.4125, u"Con dim"_s}}},
    RowCase{"NullsAndEmptyTexts", {QString(), kMoment, {std::monostate{}, QString(), std::monostate{}}}},
    RowCase{"NoValues", {u"x"_s, kMoment, {}}},
    RowCase{"NonAsciiTexts", {u"ñ"_s, kMoment, {u"Guía Ñandú €5"_s, u"荷物 📦"_s, u"tab\tnl\n\u0000fin"_s}}},
    RowCase{"ExtremeNumbers", {u"n"_s, kMoment, {-0.0, std::numeric_limits<double>::max(),
                                                 std::numeric_limits<double>::denorm_min(),
                                                 -std::numeric_limits<double>::infinity()}}},
    RowCase{"LastMillisecondOfTheYear", {u"t"_s, QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999)), {1.0}}},
    RowCase{"Midnight", {u"t"_s, QDateTime(QDate(2030, 1, 1), QTime(0, 0)), {1.0}}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(PendingRow, BytesCutShortOrLengthenedOrForeignAreNoRow) {
    const PendingRow row{u"lectura"_s, kMoment, {u"Guía"_s, 2.5, std::monostate{}}};
    const QByteArray bytes = row.encoded();
    for (qsizetype size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(PendingRow::decoded(QByteArrayView(bytes).first(size))) << size;
    EXPECT_FALSE(PendingRow::decoded(bytes + '\0'));

    QByteArray otherVersion = bytes;
    otherVersion[0] = 2;
    EXPECT_FALSE(PendingRow::decoded(otherVersion));
    // The last value's tag (a null, the last byte) made into one no row has.
    QByteArray unknownTag = bytes;
    unknownTag[unknownTag.size() - 1] = 7;
    EXPECT_FALSE(PendingRow::decoded(unknownTag));
}
