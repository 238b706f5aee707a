#include "records/RecordChecks.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using namespace records;

struct SeparatorCountCase {
    const char* name;
    int expected;
    const char16_t* text;
    const char16_t* separator;
    bool answer;
};

void PrintTo(const SeparatorCountCase& c, std::ostream* os) {
    *os << c.expected << " '" << QString::fromUtf16(c.text).toStdString() << "' '"
        << QString::fromUtf16(c.separator).toStdString() << "'";
}

class ValidarCampos : public ::testing::TestWithParam<SeparatorCountCase> {};

TEST_P(ValidarCampos, CountsSingleCharacterSeparatorsAndRefusesDoubles) {
    const SeparatorCountCase& c = GetParam();
    EXPECT_EQ(validar_campos(c.expected, c.text, c.separator), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    RecordChecks, ValidarCampos,
    ::testing::Values(SeparatorCountCase{"SixSeparatorsAsExpected", 6, u"a!b!c!d!e!f!g", u"!", true},
                      SeparatorCountCase{"ADoubledSeparatorIsRefused", 6, u"a!b!!c!d!e!f", u"!", false},
                      SeparatorCountCase{"TooFewSeparators", 6, u"a!b!c", u"!", false},
                      SeparatorCountCase{"TwoCharacterSeparatorCountedOnce", 0, u"a!!b", u"!!", true},
                      SeparatorCountCase{"TwoCharacterSeparatorRepeated", 0, u"a!!!!b", u"!!", false},
                      SeparatorCountCase{"TwoCharacterSeparatorWrongCount", 2, u"a!!b", u"!!", false},
                      SeparatorCountCase{"EmptyTextNoSeparators", 0, u"", u"!", true},
                      SeparatorCountCase{"EmptyTextOneExpected", 1, u"", u"!", false},
                      SeparatorCountCase{"EmptySeparator", 0, u"a!b", u"", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordChecks, EsNumero) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"12.5", true},  {u"012", true},  {u"1,5", true}, {u"-3", true},     {u"1E5", true},
        {u"E", true},     {u"0", true},    {u"1-2", true}, {u"1.2.3", true},  {u"1..5", false},
        {u"1,,5", false}, {u"1e5", false}, {u"+3", false}, {u"12 cm", false}, {u"", false},
        {u"???", false},  {u" 12", false},
    };
    for (const auto& [text, answer] : cases)
        EXPECT_EQ(es_numero(text), answer) << QString::fromUtf16(text).toStdString();
}

TEST(RecordChecks, StatusText) {
    EXPECT_EQ(StatusWords{}.text(), u"Con dim-Con peso-Con gu\u00eda"_s);
    EXPECT_EQ((StatusWords{false, false, false}.text()), u"Sin dim-Sin peso-Sin gu\u00eda"_s);
    EXPECT_EQ((StatusWords{true, false, true}.text()), u"Con dim-Sin peso-Con gu\u00eda"_s);
}
