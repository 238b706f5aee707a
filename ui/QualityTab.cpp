#include "ui/QualityTab.h"

#include "base/Clock.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ui {

QualityTab::QualityTab(const base::Clock& clock, QWidget* parent)
    : QWidget(parent)
    , m_clock(clock)
    , m_timer(this) {
    setObjectName(u"TabCalidad"_s);
    auto* chart = new QChart;
    chart->setTitle(u"Calidad y filas por minuto, \u00faltimas 8 horas"_s);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));

    m_quality = new QLineSeries(chart);
    m_quality->setName(u"Calidad (%)"_s);
    m_rows = new QLineSeries(chart);
    m_rows->setName(u"Filas por minuto"_s);
    chart->addSeries(m_quality);
    chart->addSeries(m_rows);

    m_time = new QDateTimeAxis(chart);
    m_time->setFormat(u"hh:mm"_s);
    m_time->setTickCount(9);
    auto* percent = new QValueAxis(chart);
    percent->setRange(0, 100);
    percent->setLabelFormat(u"%d"_s);
    percent->setTitleText(u"%"_s);
    m_rowsAxis = new QValueAxis(chart);
    m_rowsAxis->setRange(0, 40);
    m_rowsAxis->setTickCount(5);
    percent->setTickCount(5);
    m_rowsAxis->setLabelFormat(u"%d"_s);
    m_rowsAxis->setTitleText(u"filas/min"_s);
    chart->addAxis(m_time, Qt::AlignBottom);
    chart->addAxis(percent, Qt::AlignLeft);
    chart->addAxis(m_rowsAxis, Qt::AlignRight);
    m_quality->attachAxis(m_time);
    m_quality->attachAxis(percent);
    m_rows->attachAxis(m_time);
    m_rows->attachAxis(m_rowsAxis);

    m_view = new QChartView(chart, this); // the view owns the chart
    m_view->setObjectName(u"GraficaCalidad"_s);
    m_view->setRenderHint(QPainter::Antialiasing);

    m_lastAlert =
        new QLabel(u"\u00daltima alerta: ninguna desde que se inici\u00f3 la estaci\u00f3n."_s, this);
    m_lastAlert->setObjectName(u"UltimaAlerta"_s);
    m_lastAlert->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_lastAlert);

    m_timer.setInterval(kRedrawMs);
    // Runs only while the tab is on screen; a minimized window draws nothing either.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!window()->isMinimized())
            redraw();
    });
    redraw();
}

void QualityTab::addRows(int rows) {
    record(m_clock.now(), rows, std::nullopt);
}

void QualityTab::record(const QDateTime& at, int rows, std::optional<double> quality) {
    if (rows > 0)
        m_trend.addRows(at, rows);
    if (quality)
        m_trend.setQuality(at, *quality);
    m_dirty = true;
}

void QualityTab::showQuality(const QString& text) {
    bool ok = false;
    const double percent = QString(text).replace(u',', u'.').toDouble(&ok);
    if (!ok)
        return;
    record(m_clock.now(), 0, percent);
}

void QualityTab::showLastAlert(const QDateTime& at, bool sent, const QString& outcome) {
    const QString when = at.toString(u"yyyyMMddhhmm"_s);
    m_lastAlert->setText(sent ? u"\u00daltima alerta: %1, enviada. %2"_s.arg(when, outcome)
                              : u"\u00daltima alerta: %1, no enviada. %2"_s.arg(when, outcome));
}

void QualityTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    redraw();
    m_timer.start();
}

void QualityTab::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_timer.stop();
}

void QualityTab::redraw() {
    const QDateTime now = m_clock.now();
    const qint64 minute = now.toMSecsSinceEpoch() / 60000;
    if (!m_dirty && minute == m_drawnMinute)
        return;
    m_dirty = false;
    m_drawnMinute = minute;
    ++m_redraws;

    QList<QPointF> quality;
    QList<QPointF> rows;
    int most = 0;
    for (const QualityTrend::Minute& m : m_trend.minutes(now)) {
        const auto x = double(m.start.toMSecsSinceEpoch());
        rows.append({x, double(m.rows)});
        most = std::max(most, m.rows);
        if (m.quality)
            quality.append({x, *m.quality});
    }
    m_quality->replace(quality);
    m_rows->replace(rows);
    m_time->setRange(now.addSecs(-QualityTrend::kMinutes * 60), now);
    // A scale in steps of forty (ticks of ten), so that it does not jump with every minute.
    m_rowsAxis->setRange(0, std::max(40, (most + 39) / 40 * 40));
}

} // namespace ui
