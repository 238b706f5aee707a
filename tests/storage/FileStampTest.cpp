#include "storage/FileStamp.h"
#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace storage;

TEST(FileStamp, DosDigitosPadsOnlySingleCharacters) {
    EXPECT_EQ(dos_digitos(5), QStringLiteral("05"));
    EXPECT_EQ(dos_digitos(0), QStringLiteral("00"));
    EXPECT_EQ(dos_digitos(12), QStringLiteral("12"));
    EXPECT_EQ(dos_digitos(2024), QStringLiteral("2024"));
    EXPECT_EQ(dos_digitos(u""), QStringLiteral("0"));
}

TEST(FileStamp, SelloTiempoWithHourAndCounter) {
    const FakeClock clock; // 5 January 2024, 14:37
    FileCounter counter;
    for (int i = 0; i < 6; ++i)
        counter.advance();
    EXPECT_EQ(sello_tiempo(clock, counter, true, true), QStringLiteral("05012024-14-07"));
    EXPECT_EQ(sello_tiempo(clock, counter, false, false), QStringLiteral("05012024-1437"));
    EXPECT_EQ(counter.value(), 8);
}

TEST(FileStamp, CounterWrapsFrom99To00) {
    const FakeClock clock(QDateTime(QDate(2007, 4, 24), QTime(20, 50)));
    FileCounter counter;
    EXPECT_EQ(nombre_archivo_log(clock, counter), QStringLiteral("24042007-205001"));
    while (counter.value() != 99)
        counter.advance();
    EXPECT_EQ(nombre_archivo_log(clock, counter), QStringLiteral("24042007-205000"));
    EXPECT_EQ(counter.value(), 0);
}
