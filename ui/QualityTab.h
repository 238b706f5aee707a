#pragma once

#include "ui/QualityTrend.h"

#include <QTimer>
#include <QWidget>

#include <optional>

class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QValueAxis;

namespace base {
class Clock;
}

namespace ui {

// The "Calidad" tab: the quality percentage and the rows per minute of the last eight hours as a
// chart, and beneath it how the last alert mail went. It takes every record as it is noted but
// redraws at most once a second, only while it is on screen, and only when something changed or a
// minute went by, so a busy line costs it a counter increment per record.
class QualityTab final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QualityTab)

public:
    static constexpr int kRedrawMs = 1000;

    QualityTab(const base::Clock& clock, QWidget* parent = nullptr);

    void addRows(int rows);
    // What the station did at a given moment (a history to show, the screenshots).
    void record(const QDateTime& at, int rows, std::optional<double> quality);
    // The quality as the panel shows it ("97.50", "97,50" or "100").
    void showQuality(const QString& text);
    void showLastAlert(const QDateTime& at, bool sent, const QString& outcome);

    // Redraws now if anything is waiting (tests, the screenshots).
    void redraw();
    int redraws() const { return m_redraws; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const base::Clock& m_clock;
    QualityTrend m_trend;
    QChartView* m_view = nullptr;
    QLineSeries* m_quality = nullptr;
    QLineSeries* m_rows = nullptr;
    QDateTimeAxis* m_time = nullptr;
    QValueAxis* m_rowsAxis = nullptr;
    QLabel* m_lastAlert = nullptr;
    QTimer m_timer;
    bool m_dirty = true;
    qint64 m_drawnMinute = -1;
    int m_redraws = 0;
};

} // namespace ui
