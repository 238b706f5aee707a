#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// Numbers as the station reads and shows them. Device records write "." as the decimal point; the
// locale's separators apply only inside conversions and the status-bar time.
namespace records {

// A dimension text converted under the locale's rules, after every "." became the locale's decimal
// separator: an optional sign, digits, one decimal separator, an optional exponent, no grouping.
// Empty when the text is not a number.
std::optional<long double> toNumber(QStringView text, const QLocale& locale);

// toNumber under one locale, its separator and strict rules worked out once: the system locale
// answers each question slowly, and every record reads three dimensions.
class LocaleNumbers {
public:
    explicit LocaleNumbers(const QLocale& locale);
    std::optional<long double> toNumber(QStringView text) const;

private:
    QString m_decimalPoint;
    QLocale m_strict;
    bool m_latinDigits; // the digits a device writes are the locale's
};

// A number with "." or "," as its decimal separator, whatever the locale (a weight read with ","
// is that number too); nothing when the text is no finite number.
std::optional<double> decimalNumber(QStringView text);

// The general form with at most 15 significant digits, no trailing zeros, always with ".":
// 3.4125, 1.2, 0; exponent form (1.5E20, 2E-6) only for very large or very small values.
QString generalForm(double value);

// The average statement time on the first status-bar panel: locale grouping, exactly four
// decimals, padded with spaces on the left to at least 8 characters.
QString averageTimeText(double milliseconds, const QLocale& locale);

// Lhhh x lwww x llll / 5000, worked in extended precision and held as a double.
double volumetricWeight(long double h, long double w, long double l);

} // namespace records
