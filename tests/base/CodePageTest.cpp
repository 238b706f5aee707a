#include "base/CodePage.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace base;

TEST(CodePage, NarrowsToWindows1252WithQuestionMarkForTheRest) {
    EXPECT_EQ(base::codepage::narrow(u"Con gu\u00eda \u20ac\u2014\x02\t"), QByteArray("Con gu\xed"
                                                                                      "a \x80\x97\x02\t"));
    EXPECT_EQ(base::codepage::narrow(u"\u4e2d\u0141"), QByteArray("??"));
}

TEST(CodePage, WidensEveryByte) {
    EXPECT_EQ(base::codepage::widen(QByteArrayView("\xe9\x80\x81\x02", 4)),
              QString::fromUtf16(u"\u00e9\u20ac\u0081\x02"));
    for (int b = 0; b < 256; ++b) {
        const QChar c = base::codepage::widen(static_cast<unsigned char>(b));
        if (b < 0x80 || b >= 0xA0 || c.unicode() >= 0x100) {
            EXPECT_EQ(base::codepage::narrow(QStringView(&c, 1)), QByteArray(1, char(b))) << b;
        }
    }
}
