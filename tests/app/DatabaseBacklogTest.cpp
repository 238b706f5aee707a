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
    app::OutboxProgress progress{1532, 100, 100 + 1532 * 50};
    qint64& waiting = progress.waiting;
    DatabaseBacklog backlog([&] { return progress; }, clock, sinceNotice);
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

    progress.appended += 468 * 50;
    backlog.connectionBack();
    EXPECT_EQ(backlog.statusText(), u"BD conectada de nuevo: 2 000 filas en espera"_s);
    // Rows keep coming under load: the line comes once every row that waited is stored, though the
    // count is never 0.
    progress.confirmed = progress.appended - 50;
    progress.appended += 100 * 50;
    waiting = 101;
    backlog.refresh();
    EXPECT_EQ(backlog.statusText(), u"BD conectada de nuevo: 101 filas en espera"_s);
    EXPECT_EQ(notices.size(), 2);
    progress.confirmed = progress.appended - 100 * 50;
    waiting = 100;
    backlog.refresh();
    EXPECT_TRUE(backlog.statusText().isEmpty());
    ASSERT_EQ(notices.size(), 3);
    EXPECT_EQ(notices.at(2).at(0).toString(),
              u"BD conectada de nuevo: todas las filas en espera quedaron guardadas"_s);
    backlog.refresh();
    EXPECT_EQ(notices.size(), 3);
}

TEST(DatabaseBacklog, SaysOneRowAndTellsOfADatabaseItMade) {
    FakeClock clock(QDateTime(QDate(2024, 3, 14), QTime(10, 42, 7)));
    HandStopwatch sinceNotice;
    DatabaseBacklog backlog([] { return app::OutboxProgress{1, 0, 50}; }, clock, sinceNotice);
    QSignalSpy notices(&backlog, &DatabaseBacklog::notice);
    backlog.databaseCreated(u"/var/lib/orvanedb/ROVEZOD3.FDB"_s);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices.at(0).at(0).toString(), u"Base de datos creada: /var/lib/orvanedb/ROVEZOD3.FDB"_s);
    EXPECT_EQ(backlog.statusText(), notices.at(0).at(0).toString());

    backlog.connectionLost(u"connection refused"_s);
    EXPECT_EQ(backlog.statusText(),
              u"BD sin conexi\u00f3n: 1 fila en espera desde 10:42:07 \u2014 connection refused"_s);
}

} // namespace
