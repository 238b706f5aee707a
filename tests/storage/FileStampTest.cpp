#include "storage/FileStamp.h"
#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using namespace storage;

TEST(FileStamp, DosDigitosPadsOnlySingleCharacters) {
    EXPECT_EQ(dos_digitos(5), u"05"_s);
    EXPECT_EQ(dos_digitos(0), u"00"_s);
    EXPECT_EQ(dos_digitos(12), u"12"_s);
    EXPECT_EQ(dos_digitos(2024), u"2024"_s);
    EXPECT_EQ(dos_digitos(u""), u"0"_s);
}

TEST(FileStamp, SelloTiempoWithHourAndCounter) {
    const FakeClock clock; // 5 January 2024, 14:37
    FileCounter counter;
    for (int i = 0; i < 6; ++i)
        counter.advance();
    EXPECT_EQ(sello_tiempo(clock, counter, true, true), u"05012024-14-07"_s);
    EXPECT_EQ(sello_tiempo(clock, counter, false, false), u"05012024-1437"_s);
    EXPECT_EQ(counter.value(), 8);
}

TEST(FileStamp, CounterWrapsFrom99To00) {
    const FakeClock clock(QDateTime(QDate(2007, 4, 24), QTime(20, 50)));
    FileCounter counter;
    EXPECT_EQ(nombre_archivo_log(clock, counter), u"24042007-205001"_s);
    while (counter.value() != 99)
        counter.advance();
    EXPECT_EQ(nombre_archivo_log(clock, counter), u"24042007-205000"_s);
    EXPECT_EQ(counter.value(), 0);
}
