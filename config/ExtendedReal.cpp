#include "config/ExtendedReal.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace config {

namespace {

constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;
constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;

QByteArray pack(bool negative, std::uint16_t exponent, std::uint64_t significand) {
    QByteArray bytes(ExtendedReal::kSize, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>((significand >> (8 * i)) & 0xff);
    const std::uint16_t top = static_cast<std::uint16_t>(exponent | (negative ? 0x8000 : 0));
    bytes[8] = static_cast<char>(top & 0xff);
    bytes[9] = static_cast<char>(top >> 8);
    return bytes;
}

} // namespace

QByteArray ExtendedReal::encode(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

    if (exponent == 0x7ff) {
        // Infinity keeps only the integer bit; a NaN keeps its payload under the quiet bit.
        const std::uint64_t nan = fraction == 0 ? 0 : (std::uint64_t{1} << 62) | (fraction << 11);
        return pack(negative, 0x7fff, kIntegerBit | nan);
    }
    if (exponent == 0) {
        if (fraction == 0)
            return pack(negative, 0, 0);
        // A subnormal double is a normal extended real: shift its leading one into the integer bit.
        const int shift = std::countl_zero(fraction);
        // fraction * 2^-1074 == (fraction << shift) * 2^(-1074 - shift) == significand * 2^(e - 63)
        const int e = 63 - 1074 - shift;
        return pack(negative, static_cast<std::uint16_t>(e + kExtendedBias), fraction << shift);
    }
    return pack(negative, static_cast<std::uint16_t>(exponent - kDoubleBias + kExtendedBias),
                kIntegerBit | (fraction << 11));
}

std::optional<double> ExtendedReal::decode(QByteArrayView bytes) {
    if (bytes.size() != kSize)
        return std::nullopt;
    std::uint64_t significand = 0;
    for (int i = 0; i < 8; ++i)
        significand |= std::uint64_t{static_cast<std::uint8_t>(bytes[i])} << (8 * i);
    const auto top = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[8]) |
                                                (static_cast<std::uint8_t>(bytes[9]) << 8));
    const bool negative = (top & 0x8000) != 0;
    const int exponent = top & 0x7fff;
    const double sign = negative ? -1.0 : 1.0;

    if (exponent == 0x7fff) {
        if ((significand & ~kIntegerBit) == 0)
            return sign * std::numeric_limits<double>::infinity();
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    }
    if (exponent != 0 && (significand & kIntegerBit) == 0)
        return std::nullopt;
    if (significand == 0)
        return sign * 0.0;
    // Denormals (exponent 0) share the scale of the smallest normal exponent.
    const int scale = (exponent == 0 ? 1 : exponent) - kExtendedBias - 63;
    // The conversion rounds to the nearest double (ties to even); the scaling is exact unless the
    // result leaves the double's normal range.
    return sign * std::ldexp(static_cast<double>(significand), scale);
}

} // namespace config
