#include "records/NumberText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace records {

std::optional<long double> toNumber(QStringView text, const QLocale& locale) {
    return LocaleNumbers(locale).toNumber(text);
}

namespace {

// Digits with at most one separator between digits, nothing else: the form nearly every dimension
// and weight takes, read without the locale's parser, which would give the very same number
// (both round correctly) at many times the cost. Anything else is left to that parser.
template <typename Number> std::optional<Number> plainDecimal(QStringView text, bool commaToo) {
    std::array<char, 64> bytes;
    if (text.isEmpty() || text.size() > qsizetype(bytes.size()))
        return std::nullopt;
    bool separated = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= u'0' && c <= u'9') {
            bytes[i] = char(c);
        } else if ((c == u'.' || (commaToo && c == u',')) && !separated && i > 0 && i + 1 < text.size()) {
            separated = true;
            bytes[i] = '.';
        } else {
            return std::nullopt;
        }
    }
    Number value{};
    const char* end = bytes.data() + text.size();
    const auto [last, error] = std::from_chars(bytes.data(), end, value);
    if (error != std::errc() || last != end)
        return std::nullopt;
    return value;
}

// The system locale asks the system again for every symbol of every conversion. The locale of the
// same name reads them from Qt's own tables; it stands in when it writes numbers with the very same
// symbols (the system's numbers may follow another locale than its name).
QLocale numbersTwin(const QLocale& locale) {
    const QLocale twin(locale.name());
    const auto symbols = [](const QLocale& l) {
        return QStringList{l.decimalPoint(), l.groupSeparator(), l.negativeSign(),
                           l.positiveSign(), l.exponential(),    l.zeroDigit()};
    };
    return symbols(twin) == symbols(locale) ? twin : locale;
}

} // namespace

LocaleNumbers::LocaleNumbers(const QLocale& locale)
    : m_decimalPoint(locale.decimalPoint())
    , m_strict(numbersTwin(locale))
    , m_latinDigits(m_strict.zeroDigit() == u"0"_s) {
    m_strict.setNumberOptions(QLocale::RejectGroupSeparator);
}

std::optional<long double> LocaleNumbers::toNumber(QStringView text) const {
    if (m_latinDigits) {
        if (const auto plain = plainDecimal<long double>(text, false))
            return plain;
    }
    QString localised = text.toString();
    localised.replace(u'.', m_decimalPoint);
    bool ok = false;
    const double value = m_strict.toDouble(localised, &ok);
    if (!ok)
        return std::nullopt;
    // The locale accepted it; read it again at full width so that the product keeps the precision
    // the volumetric weight is worked in.
    QString plain = localised;
    plain.replace(m_decimalPoint, u"."_s);
    const QByteArray bytes = plain.toLatin1();
    long double wide = 0;
    const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), wide);
    if (error != std::errc() || end != bytes.data() + bytes.size())
        return static_cast<long double>(value);
    return wide;
}

QString generalForm(double value) {
    if (value == 0)
        return u"0"_s;
    if (!std::isfinite(value))
        return QString::number(value);
    // Fifteen significant digits, rounded once and half up: -d.dddddddddddddde+xx. Worked in
    // bytes: the tick writes a volumetric weight with every record.
    const QByteArray scientific = QByteArray::number(value, 'e', 14);
    const char* const end = scientific.cend();
    const bool negative = scientific[0] == '-';
    const char* const e = std::find(scientific.cbegin(), end, 'e');
    int exponent = 0;
    std::from_chars(e[1] == '+' ? e + 2 : e + 1, end, exponent);
    std::array<char, 16> digits;
    std::size_t count = 0;
    for (const char* c = scientific.cbegin() + (negative ? 1 : 0); c != e; ++c) {
        if (*c != '.')
            digits[count++] = *c;
    }
    while (count > 1 && digits[count - 1] == '0')
        --count;

    std::array<char, 40> out;
    char* to = out.begin();
    const auto put = [&to](const char* from, std::size_t n) { to = std::copy_n(from, n, to); };
    const auto zeros = [&to](std::size_t n) { to = std::fill_n(to, n, '0'); };
    if (negative)
        *to++ = '-';
    if (exponent >= 15 || exponent < -5) {
        *to++ = digits[0];
        if (count > 1) {
            *to++ = '.';
            put(digits.data() + 1, count - 1);
        }
        *to++ = 'E';
        to = std::to_chars(to, out.end(), exponent).ptr;
    } else if (exponent < 0) {
        put("0.", 2);
        zeros(std::size_t(-exponent - 1));
        put(digits.data(), count);
    } else if (count <= std::size_t(exponent) + 1) {
        put(digits.data(), count);
        zeros(std::size_t(exponent) + 1 - count);
    } else {
        put(digits.data(), std::size_t(exponent) + 1);
        *to++ = '.';
        put(digits.data() + exponent + 1, count - std::size_t(exponent) - 1);
    }
    return QString::fromLatin1(out.data(), to - out.data());
}

QString averageTimeText(double milliseconds, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(QLocale::DefaultNumberOptions);
    const QString text = grouped.toString(milliseconds, 'f', 4);
    return text.size() < 8 ? QString(8 - text.size(), u' ') + text : text;
}

double volumetricWeight(long double h, long double w, long double l) {
    return static_cast<double>(h * w * l / 5000.0L);
}

std::optional<double> decimalNumber(QStringView text) {
    if (const auto plain = plainDecimal<double>(text, true))
        return plain;
    static const QLocale c = [] {
        QLocale locale = QLocale::c();
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        return locale;
    }();
    QString dotted = text.toString();
    dotted.replace(u',', u'.');
    bool ok = false;
    const double value = c.toDouble(dotted, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace records
