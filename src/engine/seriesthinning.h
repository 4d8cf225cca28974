#pragma once
// Thins a dense curve to what a plot can show: per pixel column of the visible x range only the
// lowest and highest point, so a line drawn through the result covers the same pixels.
#include <QList>
#include <QPointF>

struct PlotColumns
{
    double from = 0; // x at the left edge of the plot area
    double to = 0;   // x at the right edge
    int count = 0;   // pixel columns between them
    bool logarithmic = false;
};

// Walks the points in their order; each run of consecutive points that fall into one column
// becomes its lowest and highest value, in their order, both at the middle of the run's x, so
// that the line fills the column between them as the full data does. Runs beyond the edges
// keep their first and last point, so lines still enter and leave the plot where the full data
// does. Points stay as they are when there is nothing to gain or no usable range.
QList<QPointF> thinToColumns(const QList<QPointF>& points, const PlotColumns& columns);
