#include "config/ExtendedReal.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using config::ExtendedReal;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

struct Case {
    double value;
    QByteArray encoded;
};

class ExtendedRealCase : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(ExtendedRealCase, EncodesToTheX87BytesAndBack) {
    const Case& c = GetParam();
    EXPECT_EQ(ExtendedReal::encode(c.value).toHex(','), c.encoded.toHex(','));
    const std::optional<double> back = ExtendedReal::decode(c.encoded);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.value);
    EXPECT_EQ(std::signbit(*back), std::signbit(c.value));
}

INSTANTIATE_TEST_SUITE_P(SpinValues, ExtendedRealCase,
                         ::testing::Values(Case{0.0, bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
                                           Case{5.0, bytes({0, 0, 0, 0, 0, 0, 0, 0xa0, 0x01, 0x40})},
                                           Case{2.5, bytes({0, 0, 0, 0, 0, 0, 0, 0xa0, 0x00, 0x40})},
                                           Case{150.0, bytes({0, 0, 0, 0, 0, 0, 0, 0x96, 0x06, 0x40})},
                                           Case{1.0, bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xff, 0x3f})},
                                           Case{-10.0, bytes({0, 0, 0, 0, 0, 0, 0, 0xa0, 0x02, 0xc0})},
                                           Case{-0.0, bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80})}));

TEST(ExtendedReal, EveryDoubleRoundTripsExactly) {
    for (double v :
         {0.1, 1.0 / 3.0, -123456.789, std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
          std::numeric_limits<double>::denorm_min(), 4.9e-320}) {
        const std::optional<double> back = ExtendedReal::decode(ExtendedReal::encode(v));
        ASSERT_TRUE(back.has_value()) << v;
        EXPECT_EQ(*back, v);
    }
    EXPECT_TRUE(
        std::isinf(*ExtendedReal::decode(ExtendedReal::encode(-std::numeric_limits<double>::infinity()))));
    EXPECT_TRUE(
        std::isnan(*ExtendedReal::decode(ExtendedReal::encode(std::numeric_limits<double>::quiet_NaN()))));
}

TEST(ExtendedReal, DecodesWhatADoubleCannotHoldToTheNearestAndRefusesWhatTheX87Refuses) {
    // 1 + 2^-63: the lowest significand bit is beyond a double, so it rounds to 1.
    EXPECT_EQ(ExtendedReal::decode(bytes({1, 0, 0, 0, 0, 0, 0, 0x80, 0xff, 0x3f})), 1.0);
    // 2^16383 is beyond a double's range.
    EXPECT_TRUE(std::isinf(*ExtendedReal::decode(bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xfe, 0x7f}))));
    // An unnormal: exponent set, integer bit clear.
    EXPECT_FALSE(ExtendedReal::decode(bytes({0, 0, 0, 0, 0, 0, 0, 0x40, 0x01, 0x40})).has_value());
    EXPECT_FALSE(ExtendedReal::decode(bytes({0, 0, 0, 0, 0, 0, 0, 0xa0, 0x01})).has_value());
}
