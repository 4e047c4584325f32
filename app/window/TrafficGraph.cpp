#include "app/window/TrafficGraph.h"

#include <QChart>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

TrafficGraph::TrafficGraph(QWidget* parent)
    : QChartView(parent), m_TimeAxis(new QValueAxis), m_ValueAxis(new QValueAxis) {
    auto* chart = new QChart;
    // A dark plot area keeps the yellow send line readable.
    chart->setTheme(QChart::ChartThemeDark);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setMargins(QMargins(2, 2, 2, 2));
    m_TimeAxis->setRange(0, kPointCount - 1);
    m_TimeAxis->setLabelsVisible(false);
    m_TimeAxis->setTickCount(7);
    m_ValueAxis->setRange(0, 1024);
    m_ValueAxis->setLabelFormat("%.0f");
    chart->addAxis(m_TimeAxis, Qt::AlignBottom);
    chart->addAxis(m_ValueAxis, Qt::AlignLeft);
    setChart(chart);
    setRenderHint(QPainter::Antialiasing, false);
}

void TrafficGraph::AddSeries(const QString& name, const QColor& colour) {
    auto* series = new QLineSeries;
    series->setName(name);
    series->setColor(colour);
    chart()->addSeries(series);
    series->attachAxis(m_TimeAxis);
    series->attachAxis(m_ValueAxis);
    m_Series.push_back(series);
}

void TrafficGraph::AddPoint(int series, double value) {
    if (series < 0 || series >= SeriesCount()) return;
    QLineSeries* line = m_Series[static_cast<size_t>(series)];
    if (line->count() >= kPointCount) line->removePoints(0, line->count() - kPointCount + 1);
    line->append(static_cast<double>(m_Tick), value);
}

void TrafficGraph::Redraw() {
    const double newest = static_cast<double>(m_Tick);
    m_TimeAxis->setRange(std::max(0.0, newest - (kPointCount - 1)), std::max(newest, kPointCount - 1.0));
    double highest = 0;
    for (const QLineSeries* line : m_Series) {
        for (const QPointF& point : line->points()) highest = std::max(highest, point.y());
    }
    // Round the top up to a whole step so the labels do not jitter every tick.
    const double step = highest <= 1024 ? 256 : 1024;
    m_ValueAxis->setRange(0, std::max(1024.0, std::ceil(highest * 1.1 / step) * step));
    ++m_Tick;
}

int TrafficGraph::PointCount(int series) const {
    return (series >= 0 && series < SeriesCount()) ? m_Series[static_cast<size_t>(series)]->count() : 0;
}

double TrafficGraph::LastValue(int series) const {
    if (PointCount(series) == 0) return 0;
    const QLineSeries* line = m_Series[static_cast<size_t>(series)];
    return line->at(line->count() - 1).y();
}
