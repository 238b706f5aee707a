#include "ui/QualityTab.h"
#include "ui/QualityTrend.h"

#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"

#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QDateTime kStart(QDate(2024, 3, 14), QTime(10, 42, 7), Qt::UTC);

TEST(QualityTrendTest, CountsRowsPerMinuteOverEightHoursAndCarriesTheQualityOver) {
    ui::QualityTrend trend;
    trend.setQuality(kStart, 97.5);
    trend.addRows(kStart, 3);
    trend.addRows(kStart.addSecs(50), 2);        // the same minute (10:42)
    trend.addRows(kStart.addSecs(60), 1);        // 10:43
    trend.setQuality(kStart.addSecs(150), 90.0); // 10:44, no rows

    const auto minutes = trend.minutes(kStart.addSecs(5 * 60));
    ASSERT_EQ(minutes.size(), std::size_t(ui::QualityTrend::kMinutes));
    EXPECT_EQ(minutes.back().start, QDateTime(kStart.date(), QTime(10, 47), Qt::UTC));
    const auto at = [&](int minute) { return minutes[minutes.size() - 1 - std::size_t(47 - minute)]; };
    EXPECT_EQ(at(42).rows, 5);
    EXPECT_EQ(at(43).rows, 1);
    EXPECT_EQ(at(44).rows, 0);
    EXPECT_FALSE(at(41).quality.has_value()) << "no quality before the first value";
    EXPECT_EQ(at(42).quality, 97.5);
    EXPECT_EQ(at(43).quality, 97.5);
    EXPECT_EQ(at(44).quality, 90.0);
    EXPECT_EQ(at(47).quality, 90.0);
}

TEST(QualityTrendTest, OldMinutesFallOutButTheirQualityStillCarriesOver) {
    ui::QualityTrend trend;
    trend.setQuality(kStart, 80.0);
    trend.addRows(kStart, 7);
    const QDateTime later = kStart.addSecs(qint64(ui::QualityTrend::kMinutes) * 60);
    trend.addRows(later, 1);
    const auto minutes = trend.minutes(later);
    ASSERT_EQ(minutes.size(), std::size_t(ui::QualityTrend::kMinutes));
    int rows = 0;
    for (const auto& m : minutes)
        rows += m.rows;
    EXPECT_EQ(rows, 1) << "the minute eight hours back is gone";
    EXPECT_EQ(minutes.front().quality, 80.0);
    EXPECT_EQ(minutes.back().quality, 80.0);
}

TEST(QualityTrendTest, AClockThatStepsBackAddsToTheLatestMinute) {
    ui::QualityTrend trend;
    trend.addRows(kStart, 1);
    trend.addRows(kStart.addSecs(-3600), 1); // the clock went back an hour
    trend.addRows(kStart, 1);
    const auto minutes = trend.minutes(kStart);
    EXPECT_EQ(minutes.back().rows, 3);
}

QLineSeries* series(ui::QualityTab& tab, int index) {
    auto* view = tab.findChild<QChartView*>(u"GraficaCalidad"_s);
    return view ? qobject_cast<QLineSeries*>(view->chart()->series().value(index)) : nullptr;
}

TEST(QualityTabTest, RedrawsOnlyWhenSomethingChangedOrAMinuteWentBy) {
    FakeClock clock(kStart);
    ui::QualityTab tab(clock);
    const int initial = tab.redraws();
    for (int i = 0; i < 500; ++i) {
        tab.addRows(1);
        tab.showQuality(u"97,50"_s);
    }
    EXPECT_EQ(tab.redraws(), initial) << "notes alone never redraw; the one-second timer does";
    tab.redraw();
    EXPECT_EQ(tab.redraws(), initial + 1);
    tab.redraw();
    EXPECT_EQ(tab.redraws(), initial + 1) << "nothing new, same minute";
    clock.advanceSeconds(60);
    tab.redraw();
    EXPECT_EQ(tab.redraws(), initial + 2) << "the time axis moves with the minutes";

    QLineSeries* quality = series(tab, 0);
    QLineSeries* rows = series(tab, 1);
    ASSERT_NE(quality, nullptr);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->count(), ui::QualityTrend::kMinutes);
    EXPECT_EQ(rows->at(rows->count() - 2).y(), 500);
    EXPECT_EQ(quality->at(quality->count() - 1).y(), 97.5);
}

TEST(QualityTabTest, ShowsTheLastAlertOrThatThereWasNone) {
    FakeClock clock(kStart);
    ui::QualityTab tab(clock);
    auto* label = tab.findChild<QLabel*>(u"UltimaAlerta"_s);
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(u"ninguna"_s)) << qPrintable(label->text());
    tab.showLastAlert(kStart, false, u"Alerta de calidad no enviada: sin servidor"_s);
    EXPECT_TRUE(label->text().contains(u"202403141042"_s)) << qPrintable(label->text());
    EXPECT_TRUE(label->text().contains(u"no enviada"_s)) << qPrintable(label->text());
    tab.showLastAlert(kStart.addSecs(60), true, u"Alerta de calidad enviada"_s);
    EXPECT_TRUE(label->text().contains(u"202403141043, enviada"_s)) << qPrintable(label->text());
}

} // namespace
