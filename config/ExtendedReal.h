#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace config {

// The 80-bit extended-precision real of the x87 (sign, 15-bit exponent, 64-bit significand with
// an explicit integer bit), as the 10 little-endian bytes a spin field's value is kept in. Every
// double has an exact extended form; the way back rounds to the nearest double only when the
// extended value has more precision or range than a double holds.
class ExtendedReal final {
public:
    static constexpr qsizetype kSize = 10;

    static QByteArray encode(double value);

    // Infinities and NaNs come back as such. No value when the bytes are not 10, or when they hold
    // an "unnormal" (a non-zero exponent without the integer bit), which the x87 refuses as well.
    static std::optional<double> decode(QByteArrayView bytes);
};

} // namespace config
