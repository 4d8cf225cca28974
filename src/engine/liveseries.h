#pragma once
// Every point of the live time plots, kept apart from the chart: their chart series draw a copy
// thinned to the pixel columns of the plot, while exports and axis fitting read all points.
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QTimer>
#include <QVariant>

class QAbstractAxis;
class QXYSeries;
struct PlotColumns;

class LiveSeries : public QObject
{
    Q_OBJECT

public:
    explicit LiveSeries(QObject* parent = nullptr);

    // Appends to the series' points, keeping the newest `cap`. A series on a chart is kept
    // here and drawn thinned when its x axis next moves, or a moment later; a series that no
    // chart shows takes the point itself.
    void append(QXYSeries* series, const QPointF& point, int cap);
    // Every point of a series: the kept ones, or else the series' own.
    QList<QPointF> points(const QXYSeries* series) const;
    // Sets both ends of an axis. The series along it are thinned for the new range first, so
    // that the chart lays each of them out once, with the range.
    void setAxisRange(QAbstractAxis* axis, const QVariant& min, const QVariant& max);

signals:
    // A point was added to the series' points (kept here or the series' own).
    void pointAppended(QXYSeries* series);

private slots:
    void drawPending();
    void drawAlongSender();
    void takeOverChange();

private:
    struct Kept
    {
        QList<QPointF> points;
        bool pending = false; // points the chart has not drawn yet
    };

    Kept& keep(QXYSeries* series);
    void draw(QXYSeries* series, Kept& kept, const PlotColumns& columns, bool quietly);
    bool columnsFor(QXYSeries* series, PlotColumns* columns);
    QList<QXYSeries*> keptAlong(const QAbstractAxis* axis) const;
    void follow(QAbstractAxis* axis);

    QHash<QXYSeries*, Kept> m_kept;
    QTimer m_lateDraw;
    bool m_drawing = false;      // the replace is ours, not somebody else's change
    bool m_settingRange = false; // the range change is ours and already drawn for
};
