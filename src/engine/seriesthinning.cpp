#include "engine/seriesthinning.h"

#include <cmath>
#include <limits>

namespace {

// Runs left of the plot are column -1, right of it column `count`.
class ColumnOf
{
public:
    explicit ColumnOf(const PlotColumns& c)
        : m_count(c.count), m_log(c.logarithmic), m_from(m_log ? std::log(c.from) : c.from),
          m_scale(double(c.count) / ((m_log ? std::log(c.to) : c.to) - m_from))
    {
    }

    bool usable() const
    {
        return m_count > 0 && std::isfinite(m_from) && std::isfinite(m_scale) && m_scale > 0;
    }

    int operator()(double x) const
    {
        if (m_log)
            x = x > 0 ? std::log(x) : -std::numeric_limits<double>::infinity();
        const double column = std::floor((x - m_from) * m_scale);
        if (!(column >= 0)) // also NaN
            return -1;
        return column >= m_count ? m_count : int(column);
    }

private:
    int m_count;
    bool m_log;
    double m_from;
    double m_scale;
};

} // namespace

QList<QPointF> thinToColumns(const QList<QPointF>& points, const PlotColumns& columns)
{
    const ColumnOf columnOf(columns);
    // Two points per column at most: below that thinning would only cost time.
    if (!columnOf.usable() || points.size() <= 2 * qsizetype(columns.count) + 2)
        return points;

    QList<QPointF> thinned;
    thinned.reserve(2 * columns.count + 8);
    qsizetype runStart = 0;
    int runColumn = columnOf(points.first().x());
    const auto closeRun = [&](qsizetype end) { // [runStart, end)
        qsizetype a = runStart, b = end - 1;   // beyond the edges: first and last
        if (runColumn >= 0 && runColumn < columns.count) {
            b = runStart;
            for (qsizetype i = runStart + 1; i < end; ++i) {
                if (points.at(i).y() < points.at(a).y())
                    a = i;
                if (points.at(i).y() > points.at(b).y())
                    b = i;
            }
            if (a > b)
                std::swap(a, b);
            if (a != b) {
                // Many points in one column draw, in full, a solid bar from the lowest to the
                // highest: a vertical stroke in the middle of the run draws the same.
                const double x = (points.at(runStart).x() + points.at(end - 1).x()) / 2;
                thinned.append(QPointF(x, points.at(a).y()));
                thinned.append(QPointF(x, points.at(b).y()));
                return;
            }
        }
        thinned.append(points.at(a));
        if (b != a)
            thinned.append(points.at(b));
    };
    for (qsizetype i = 1; i < points.size(); ++i) {
        const int column = columnOf(points.at(i).x());
        if (column != runColumn) {
            closeRun(i);
            runStart = i;
            runColumn = column;
        }
    }
    closeRun(points.size());
    return thinned;
}
