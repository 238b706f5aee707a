#include "records/NumberText.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using namespace records;

namespace {
const QLocale kPoint(QLocale::English, QLocale::UnitedStates);
const QLocale kComma(QLocale::German, QLocale::Germany);
} // namespace

TEST(NumberText, DeviceDecimalPointConvertsUnderBothLocales) {
    for (const QLocale& locale : {kPoint, kComma}) {
        EXPECT_EQ(toNumber(u"012.5", locale), 12.5L) << locale.name().toStdString();
        EXPECT_EQ(toNumber(u"-3", locale), -3.0L);
        EXPECT_EQ(toNumber(u"1E5", locale), 100000.0L);
        EXPECT_EQ(toNumber(u"0", locale), 0.0L);
        for (const char16_t* notANumber : {u"-", u"E", u"1-2", u"1.2.3", u"", u"1E"})
            EXPECT_FALSE(toNumber(notANumber, locale).has_value())
                << QString::fromUtf16(notANumber).toStdString();
    }
    // A comma is a decimal separator only where the locale says so.
    EXPECT_FALSE(toNumber(u"1,5", kPoint).has_value());
    EXPECT_EQ(toNumber(u"1,5", kComma), 1.5L);
}

// Plain digits are read without the locale's parser: every text must come out as that parser reads
// it, whatever the locale's symbols and digits.
TEST(NumberText, PlainDigitsReadAsTheLocaleReadsThem) {
    const auto byTheLocale = [](QStringView text, const QLocale& locale) -> std::optional<long double> {
        QLocale strict = locale;
        strict.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        QString localised = text.toString();
        const double value = strict.toDouble(localised.replace(u'.', locale.decimalPoint()), &ok);
        return ok ? std::optional<long double>(value) : std::nullopt;
    };
    const QLocale locales[] = {kPoint,
                               kComma,
                               QLocale(QLocale::Swedish),
                               QLocale(QLocale::Arabic, QLocale::Egypt),
                               QLocale::system(),
                               QLocale::c()};
    const char16_t* texts[] = {u"012.5",
                               u"0",
                               u"45",
                               u"0.1",
                               u"1.",
                               u".5",
                               u"1..5",
                               u"1,5",
                               u"-3",
                               u"+3",
                               u"1E5",
                               u" 7",
                               u"7 ",
                               u"1.2.3",
                               u"",
                               u"٣",
                               u"1,000",
                               u"1.000",
                               u"0.30000000000000004",
                               u"123456789012345678901234567890"};
    for (const QLocale& locale : locales) {
        const LocaleNumbers numbers(locale);
        for (const char16_t* text : texts) {
            const auto expected = byTheLocale(text, locale);
            const auto got = numbers.toNumber(text);
            ASSERT_EQ(got.has_value(), expected.has_value())
                << QString::fromUtf16(text).toStdString() << " under " << locale.name().toStdString();
            if (got) {
                EXPECT_EQ(double(*got), double(*expected)) << QString::fromUtf16(text).toStdString();
            }
        }
    }
    // A weight may come with either separator, under any locale.
    const std::pair<const char16_t*, std::optional<double>> weights[] = {
        {u"4.5", 4.5},
        {u"4,5", 4.5},
        {u"007", 7.0},
        {u"-2.5", -2.5},
        {u"1E3", 1000.0},
        {u"4.", 4.0},
        {u"4,5,6", std::nullopt},
        {u"", std::nullopt},
        {u"x", std::nullopt},
    };
    for (const auto& [text, expected] : weights)
        EXPECT_EQ(decimalNumber(text), expected) << QString::fromUtf16(text).toStdString();
}

TEST(NumberText, VolumetricWeightInGeneralForm) {
    for (const QLocale& locale : {kPoint, kComma}) {
        const double v = volumetricWeight(*toNumber(u"012.5", locale), *toNumber(u"045.5", locale),
                                          *toNumber(u"030.0", locale));
        EXPECT_EQ(generalForm(v), u"3.4125"_s);
    }
    const std::pair<double, const char16_t*> cases[] = {
        {1.2, u"1.2"},
        {0, u"0"},
        {6000, u"6000"},
        {1.0 / 3, u"0.333333333333333"},
        {2.0 / 3, u"0.666666666666667"},
        {0.00001, u"0.00001"},
        {0.000001, u"1E-6"},
        {1e20, u"1E20"},
        {123456789012345678.0, u"1.23456789012346E17"},
        {-2.5, u"-2.5"},
        {1e14, u"100000000000000"},
        {1e15, u"1E15"},
        {-0.000015, u"-0.000015"},
        {-1.5e-7, u"-1.5E-7"},
        // Exactly halfway at the sixteenth digit: rounded up, not to even.
        {0.9536895751953125, u"0.953689575195313"},
        {6197390189427085.0, u"6.19739018942709E15"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(generalForm(value), QString::fromUtf16(text)) << value;
}

TEST(NumberText, AverageTimeOnTheStatusBar) {
    EXPECT_EQ(averageTimeText(12.5, kPoint), u" 12.5000"_s);
    EXPECT_EQ(averageTimeText(12.5, kComma), u" 12,5000"_s);
    EXPECT_EQ(averageTimeText(0, kPoint), u"  0.0000"_s);
    EXPECT_EQ(averageTimeText(1234.5, kPoint), u"1,234.5000"_s);
    EXPECT_EQ(averageTimeText(1234.5, kComma), u"1.234,5000"_s);
}
