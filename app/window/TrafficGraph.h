// A scrolling line graph of per-second traffic: one line per series, one
// point per series per refresh tick, the last kPointCount ticks in view.
// The vertical axis follows the largest value in view. Window thread only.
#pragma once

#include <QChartView>
#include <QColor>
#include <vector>

class QLineSeries;
class QValueAxis;

class TrafficGraph : public QChartView {
    Q_OBJECT

public:
    static constexpr int kPointCount = 120;

    explicit TrafficGraph(QWidget* parent = nullptr);

    // Adds a line; the series of AddPoint are numbered in this order.
    void AddSeries(const QString& name, const QColor& colour);
    void AddPoint(int series, double value);
    // Moves the view to the newest tick and redraws.
    void Redraw();

    int SeriesCount() const { return static_cast<int>(m_Series.size()); }
    // Points held by one series (at most kPointCount).
    int PointCount(int series) const;
    double LastValue(int series) const;

private:
    std::vector<QLineSeries*> m_Series;  // owned by the chart
    QValueAxis* m_TimeAxis;
    QValueAxis* m_ValueAxis;
    long m_Tick = 0;
};
