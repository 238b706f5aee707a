#include "config/LineList.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using config::LineList;

TEST(LineList, SplitsOnCrLfWithOrWithoutAFinalLineEnd) {
    EXPECT_EQ(LineList(u"a\r\nb\r\n"_s).lines(), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(LineList(u"a\r\nb"_s).lines(), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(LineList(u"a\r\n\r\nb"_s).lines(), (QStringList{u"a"_s, u""_s, u"b"_s}));
    EXPECT_TRUE(LineList(QString()).lines().isEmpty());
}

TEST(LineList, FileTextTakesEveryKindOfLineEnd) {
    const LineList list = LineList::fromFileText(u"one\ntwo\rthree\r\nfour");
    EXPECT_EQ(list.text(), u"one\r\ntwo\r\nthree\r\nfour"_s);
    EXPECT_EQ(list.lines().size(), 4);
}

TEST(LineList, LooksUpWholeLinesIgnoringCaseFirstMatchWins) {
    const LineList list = LineList::fromLines({u"CAM-A"_s, u"10.1.2.3"_s, u"cam-a"_s});
    EXPECT_EQ(list.text(), u"CAM-A\r\n10.1.2.3\r\ncam-a\r\n"_s);
    EXPECT_EQ(list.indexOf(u"cam-a"), 0);
    EXPECT_EQ(list.indexOf(u"10.1.2.3"), 1);
    EXPECT_EQ(list.indexOf(u"10.1.2"), -1);
}
