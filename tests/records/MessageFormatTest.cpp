#include "records/MessageFormat.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SampleLines.h"

#include <gtest/gtest.h>

using namespace records;
using namespace Qt::StringLiterals;

namespace {

const QString kStx = QString(QChar(0x02));
const QString kDeviceLine = testsupport::kSampleDeviceLine;
const QString kEntry = kStx + u"10.1.2.3\t"_s + kDeviceLine + u"\n"_s;

} // namespace

TEST(MessageFormat, AGoodLineGivesEverySlot) {
    const qsizetype lf = kEntry.indexOf(kLf);
    const QStringView frame = QStringView(kEntry).first(lf);
    const RecordText record = recordText(frame, u"!");
    EXPECT_EQ(record.origin, u"10.1.2.3");
    EXPECT_EQ(record.text, u"H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                           u"GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5!XYZ"_s);
    EXPECT_EQ(headerLength(record.text), 7);

    const Slots slots = cutSlots(withoutHeader(record.text), u"!");
    EXPECT_EQ(slots.slot[0], u"000123");
    EXPECT_EQ(slotKind(slots.slot[0].size()), SlotKind::Sequence);
    EXPECT_EQ(slots.guiaRespaldo, u"PQ12RS34TU56VW78XY90ZZ");
    EXPECT_EQ(slots.slot[2], u"GT10HJ20KM30NP40QR50ST");
    EXPECT_EQ(slotKind(slots.slot[2].size()), SlotKind::Guide);
    EXPECT_EQ(slots.slot[3], u"GUIA0001ZXWV0002TSRQ0003|4.5|P01");
    EXPECT_EQ(slotKind(slots.slot[3].size()), SlotKind::Group32);
    EXPECT_EQ(slots.slot[4], u"A01");
    EXPECT_EQ(slotKind(3), SlotKind::None);
    EXPECT_TRUE(isExpectedSlotLength(3));
    EXPECT_EQ(slots.slot[5], u"012.5x030.0x045.5");
    EXPECT_EQ(slots.slot[6], u"XYZ");
    EXPECT_EQ(slots.remainder, u"XYZ");

    const Dimensions d = splitDimensions(slots.slot[5], u"x");
    EXPECT_EQ(d.h, u"012.5");
    EXPECT_EQ(d.l, u"030.0");
    EXPECT_EQ(d.w, u"045.5");

    const Group32 g = splitGroup32(slots.slot[3]);
    EXPECT_EQ(g.code, u"GUIA0001ZXWV0002TSRQ0003");
    EXPECT_EQ(g.weight, u"4.5");
    EXPECT_EQ(g.plaza, u"P01");
}

TEST(MessageFormat, FrameWithoutTabHasNoOrigin) {
    const RecordText record = recordText(u"\x02  abc!def \r", u"!");
    EXPECT_TRUE(record.origin.isEmpty());
    EXPECT_EQ(record.text, u"abc!def"_s);
    // A separator longer than one character replaces each TAB.
    EXPECT_EQ(recordText(u"o\ta\tb", u"<>").text, u"a<>b"_s);
}

struct HeaderCase {
    const char16_t* text;
    qsizetype header;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << QString::fromUtf16(c.text).toStdString();
}

class Header : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Header, FollowsTheSevenNineSixRule) {
    EXPECT_EQ(headerLength(GetParam().text), GetParam().header);
}

INSTANTIATE_TEST_SUITE_P(MessageFormat, Header,
                         ::testing::Values(HeaderCase{u"H00001!000123!", 7}, // "!" in 7th place
                                           HeaderCase{u"000123!ABC", 7},     // a 6-character field goes too
                                           HeaderCase{u"AB+CDEFGHIJ!", 9},   // first "+" is the 3rd character
                                           HeaderCase{u"A+B+CDEFGH", 6},     // first "+" elsewhere
                                           HeaderCase{u"ABCDEFGHIJ", 6},     // no "+"
                                           HeaderCase{u"AB+CD!", 9},     // shorter than 7: no 7th character
                                           HeaderCase{u"AB+CDE!+", 7})); // "!" wins over "+"

struct SlotCase {
    const char* name;
    const char16_t* text; // after the header
    const char16_t* separator;
    std::array<const char16_t*, 7> slot;
    const char16_t* guia;
    const char16_t* remainder;
};

void PrintTo(const SlotCase& c, std::ostream* os) {
    *os << c.name;
}

class SlotCutting : public ::testing::TestWithParam<SlotCase> {};

TEST_P(SlotCutting, CutsSevenSlots) {
    const SlotCase& c = GetParam();
    const Slots slots = cutSlots(c.text, c.separator);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(slots.slot[i], QStringView(c.slot[i])) << "slot " << i + 1;
    EXPECT_EQ(slots.guiaRespaldo, QStringView(c.guia));
    EXPECT_EQ(slots.remainder, QStringView(c.remainder));
}

INSTANTIATE_TEST_SUITE_P(
    MessageFormat, SlotCutting,
    ::testing::Values(
        // Slot 6 shorter than 17 runs into the next field; the removal stops at the first separator.
        SlotCase{"short_slot6",
                 u"a!b!c!d!e!10.0x20.0x30.5!XYZ!",
                 u"!",
                 {u"a", u"", u"c", u"d", u"e", u"10.0x20.0x30.5!XY", u"XYZ"},
                 u"b!c!d!e!10.0x20.0x30.5",
                 u""},
        // With a separator that never occurs, slots 1 to 5 are empty.
        SlotCase{"separator_absent",
                 u"012.5x030.0x045.5ABC",
                 u"#",
                 {u"", u"", u"", u"", u"", u"012.5x030.0x045.5", u"012"},
                 u"012.5x030.0x045.5ABC",
                 u"012.5x030.0x045.5ABC"},
        // Slot 7 cut again from the same text when no separator follows slot 6.
        SlotCase{"unread_guide_with_slot_seven_cut_again",
                 u"000124!PQ12RS34TU56VW78XY90ZZ ROUTE 56!??????????????????????!A01!B02!010.0x020.0x030.0",
                 u"!",
                 {u"000124", u"", u"??????????????????????", u"A01", u"B02", u"010.0x020.0x030.0", u"010"},
                 u"PQ12RS34TU56VW78XY90ZZ",
                 u"010.0x020.0x030.0"},
        // A separator of several characters is looked for whole.
        SlotCase{"long_separator",
                 u"a<>b<>c<>d<>e<>f<>g<>h",
                 u"<>",
                 {u"a", u"", u"c", u"d", u"e", u"f<>g<>h", u"g<>"},
                 u"b<>c<>d<>e<>f<>g<>h",
                 u"h"},
        SlotCase{"empty", u"", u"!", {u"", u"", u"", u"", u"", u"", u""}, u"", u""}),
    [](const auto& info) { return std::string(info.param.name); });

struct DimensionCase {
    const char16_t* group;
    const char16_t* h;
    const char16_t* l;
    const char16_t* w;
};

void PrintTo(const DimensionCase& c, std::ostream* os) {
    *os << QString::fromUtf16(c.group).toStdString();
}

class DimensionSplit : public ::testing::TestWithParam<DimensionCase> {};

TEST_P(DimensionSplit, SplitsByDAndFiltersTheThirdValue) {
    const DimensionCase& c = GetParam();
    const Dimensions d = splitDimensions(c.group, u"x");
    EXPECT_EQ(d.h, QStringView(c.h));
    EXPECT_EQ(d.l, QStringView(c.l));
    EXPECT_EQ(d.w, QString::fromUtf16(c.w));
}

INSTANTIATE_TEST_SUITE_P(MessageFormat, DimensionSplit,
                         ::testing::Values(DimensionCase{u"10.0x20.0x30.5cm", u"10.0", u"20.0", u"30.5"},
                                           DimensionCase{u"10,5x20,0x30,25", u"10,5", u"20,0", u"3025"},
                                           DimensionCase{u"010.0x???x005.0", u"010.0", u"???", u"005.0"},
                                           DimensionCase{u"12.5-30.0-45.5", u"", u"", u"12.530.045.5"},
                                           DimensionCase{u"1x2x3x4", u"1", u"2", u"34"}));

TEST(MessageFormat, Group32AndFailureText) {
    const Group32 none = splitGroup32(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    EXPECT_TRUE(none.code.isEmpty());
    EXPECT_TRUE(none.weight.isEmpty());
    EXPECT_EQ(none.plaza, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    const Group32 extra = splitGroup32(u"CODE|1.5|P|Q");
    EXPECT_EQ(extra.plaza, u"P|Q");

    EXPECT_TRUE(isMarked(u"AB?CD", u"?"));
    EXPECT_FALSE(isMarked(u"ABCD", u"?"));
    EXPECT_FALSE(isMarked(u"AB?CD", u""));
    EXPECT_TRUE(isMarked(u"ABXXCD", u"XX"));
}
