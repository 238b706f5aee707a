#include "app/DatabaseBacklog.h"

#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using app::DatabaseBacklog;

namespace {

class HandStopwatch final : public base::Stopwatch {
public:
    void restart() override { elapsed = 0; }
    qint64 elapsedMs() const override { return elapsed; }
    qint64 elapsed = 0;
};

TEST(DatabaseBacklog, CountsReadAsTheOperatorReadsThem) {
    const std::pair<qint64, const char16_t*> cases[] = {
        {0, u"0"}, {999, u"999"}, {1000, u"1 000"}, {1532, u"1 532"}, {1234567, u"1 234 567"}};
    for (const auto& [count, text] : cases)
        EXPECT_EQ(DatabaseBacklog::countText(count), QString::fromUtf16(text)) << count;
}

TEST(DatabaseBacklog, TellsWhileRowsWaitAndWhenTheyAreAllStored) {
    FakeClock clock(QDateTime(QDate(2024, 3, 14), QTime(10, 42, 7)));
    HandStopwatch sinceNotice;
    qint64 waiting = 1532;
    DatabaseBacklog backlog([&] { return waiting; }, clock, sinceNotice);
    QSignalSpy notices(&backlog, &DatabaseBacklog::notice);

    backlog.connectionLost(u"Unable to complete network request\nto host \"10.0.0.5\""_s);
    const QString down =
        u"BD sin conexi\u00f3n: 1 532 filas en espera desde 10:42:07 \u2014 Unable to complete "
        u"network request to host \"10.0.0.5\""_s;
    EXPECT_EQ(backlog.statusText(), down);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices.at(0).at(0).toString(), down);

    // The count follows; the error output hears of it once a minute.
    waiting = 2000;
    clock.advanceSeconds(30);
    sinceNotice.elapsed = 30000;
    backlog.refresh();
    EXPECT_TRUE(backlog.statusText().contains(u"2 000 filas en espera desde 10:42:07"_s));
    EXPECT_EQ(notices.size(), 1);
    sinceNotice.elapsed = 60000;
    backlog.refresh();
    EXPECT_EQ(notices.size(), 2);

    backlog.connectionBack();
    EXPECT_EQ(backlog.statusText(), u"BD conectada de nuevo: 2 000 filas en espera"_s);
    waiting = 0;
    backlog.refresh();
    EXPECT_TRUE(backlog.statusText().isEmpty());
    ASSERT_EQ(notices.size(), 3);
    EXPECT_EQ(notices.at(2).at(0).toString(),
              u"BD conectada de nuevo: todas las filas en espera quedaron guardadas"_s);
    backlog.refresh();
    EXPECT_EQ(notices.size(), 3);
}

} // namespace
