#include "records/RecordChecks.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace records;

struct SeparatorCountCase {
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

INSTANTIATE_TEST_SUITE_P(RecordChecks, ValidarCampos,
                         ::testing::Values(SeparatorCountCase{6, u"a!b!c!d!e!f!g", u"!", true},
                                           SeparatorCountCase{6, u"a!b!!c!d!e!f", u"!", false},
                                           SeparatorCountCase{6, u"a!b!c", u"!", false},
                                           SeparatorCountCase{0, u"a!!b", u"!!", true},
                                           SeparatorCountCase{0, u"a!!!!b", u"!!", false},
                                           SeparatorCountCase{2, u"a!!b", u"!!", false},
                                           SeparatorCountCase{0, u"", u"!", true},
                                           SeparatorCountCase{1, u"", u"!", false},
                                           SeparatorCountCase{0, u"a!b", u"", true}));

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
    EXPECT_EQ(StatusWords{}.text(), QStringLiteral("Con dim-Con peso-Con gu\u00eda"));
    EXPECT_EQ((StatusWords{false, false, false}.text()), QStringLiteral("Sin dim-Sin peso-Sin gu\u00eda"));
    EXPECT_EQ((StatusWords{true, false, true}.text()), QStringLiteral("Con dim-Sin peso-Con gu\u00eda"));
}
