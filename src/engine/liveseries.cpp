#include "engine/liveseries.h"

#include "engine/seriesthinning.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLogValueAxis>
#include <QValueAxis>
#include <QXYSeries>

#include <algorithm>
#include <cmath>

namespace {

// New points show at the latest this long after they came, also when no axis moves (a zoomed
// or scrolled view does not follow the data).
constexpr int LateDrawMs = 50;

double axisValue(const QVariant& value)
{
    return value.typeId() == QMetaType::QDateTime ? double(value.toDateTime().toMSecsSinceEpoch())
                                                  : value.toDouble();
}

bool rangeOf(const QAbstractAxis* axis, PlotColumns* columns)
{
    if (const auto* values = qobject_cast<const QValueAxis*>(axis)) {
        columns->from = values->min();
        columns->to = values->max();
    } else if (const auto* dates = qobject_cast<const QDateTimeAxis*>(axis)) {
        columns->from = double(dates->min().toMSecsSinceEpoch());
        columns->to = double(dates->max().toMSecsSinceEpoch());
    } else if (const auto* logs = qobject_cast<const QLogValueAxis*>(axis)) {
        columns->from = logs->min();
        columns->to = logs->max();
        columns->logarithmic = true;
    } else {
        return false;
    }
    return true;
}

QAbstractAxis* xAxisOf(QXYSeries* series)
{
    for (QAbstractAxis* axis : series->attachedAxes()) {
        if (axis->orientation() == Qt::Horizontal)
            return axis;
    }
    return nullptr;
}

} // namespace

LiveSeries::LiveSeries(QObject* parent) : QObject(parent)
{
    m_lateDraw.setSingleShot(true);
    m_lateDraw.setInterval(LateDrawMs);
    connect(&m_lateDraw, &QTimer::timeout, this, &LiveSeries::drawPending);
}

void LiveSeries::append(QXYSeries* series, const QPointF& point, int cap)
{
    if (!series->chart()) {
        // Nothing draws it: the series holds the points, appended without a signal per point.
        const bool wasBlocked = series->blockSignals(true);
        series->append(point);
        if (series->count() > cap)
            series->removePoints(0, series->count() - cap);
        series->blockSignals(wasBlocked);
        emit pointAppended(series);
        return;
    }
    Kept& kept = keep(series);
    kept.points.append(point);
    if (kept.points.size() > cap)
        kept.points.remove(0, kept.points.size() - cap);
    kept.pending = true;
    if (!m_lateDraw.isActive())
        m_lateDraw.start();
    emit pointAppended(series);
}

QList<QPointF> LiveSeries::points(const QXYSeries* series) const
{
    const auto it = m_kept.constFind(const_cast<QXYSeries*>(series));
    return it != m_kept.constEnd() ? it->points : series->points();
}

void LiveSeries::setAxisRange(QAbstractAxis* axis, const QVariant& min, const QVariant& max)
{
    if (!axis)
        return;
    PlotColumns before;
    rangeOf(axis, &before);
    const QList<QXYSeries*> along = keptAlong(axis);
    for (QXYSeries* series : along) {
        PlotColumns columns;
        if (columnsFor(series, &columns)) {
            columns.from = axisValue(min);
            columns.to = axisValue(max);
            // The range change below makes the chart lay the new points out.
            draw(series, m_kept[series], columns, true);
        }
    }
    m_settingRange = true;
    axis->setRange(min, max);
    m_settingRange = false;

    PlotColumns after;
    rangeOf(axis, &after);
    if (after.from == before.from && after.to == before.to) {
        // The axis stayed: the chart has to hear of the new points.
        for (QXYSeries* series : along) {
            PlotColumns columns;
            columnsFor(series, &columns);
            draw(series, m_kept[series], columns, false);
        }
    }
    if (std::none_of(m_kept.cbegin(), m_kept.cend(), [](const Kept& k) { return k.pending; }))
        m_lateDraw.stop();
}

void LiveSeries::drawPending()
{
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        PlotColumns columns;
        if (it->pending && columnsFor(it.key(), &columns))
            draw(it.key(), *it, columns, false);
    }
}

// The chart moved an axis or resized its plot (zoom, scroll, a new window size).
void LiveSeries::drawAlongSender()
{
    if (m_settingRange)
        return;
    auto* axis = qobject_cast<QAbstractAxis*>(sender());
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        PlotColumns columns;
        const bool along = axis ? xAxisOf(it.key()) == axis : it.key()->chart() == sender();
        if (along && columnsFor(it.key(), &columns))
            draw(it.key(), *it, columns, false);
    }
}

// Points set on the series by someone else (cleared by the screen, or filled at once) become
// its points; they are drawn thinned a moment later.
void LiveSeries::takeOverChange()
{
    if (m_drawing)
        return;
    auto* series = qobject_cast<QXYSeries*>(sender());
    auto it = m_kept.find(series);
    if (it == m_kept.end())
        return;
    it->points = series->points();
    it->pending = true;
    if (!m_lateDraw.isActive())
        m_lateDraw.start();
}

LiveSeries::Kept& LiveSeries::keep(QXYSeries* series)
{
    auto it = m_kept.find(series);
    if (it != m_kept.end())
        return *it;
    connect(series, &QObject::destroyed, this, [this, series] { m_kept.remove(series); });
    connect(series, &QXYSeries::pointsReplaced, this, &LiveSeries::takeOverChange);
    connect(series, &QXYSeries::pointAdded, this, &LiveSeries::takeOverChange);
    connect(series, &QXYSeries::pointRemoved, this, &LiveSeries::takeOverChange);
    connect(series, &QXYSeries::pointReplaced, this, &LiveSeries::takeOverChange);
    connect(series, &QXYSeries::pointsRemoved, this, &LiveSeries::takeOverChange);
    if (QChart* chart = series->chart())
        connect(chart, &QChart::plotAreaChanged, this, &LiveSeries::drawAlongSender,
                Qt::UniqueConnection);
    return *m_kept.insert(series, Kept{series->points(), false});
}

void LiveSeries::draw(QXYSeries* series, Kept& kept, const PlotColumns& columns, bool quietly)
{
    const QList<QPointF> shown = thinToColumns(kept.points, columns);
    m_drawing = true;
    const bool wasBlocked = series->blockSignals(quietly || series->signalsBlocked());
    series->replace(shown);
    series->blockSignals(wasBlocked);
    m_drawing = false;
    kept.pending = false;
}

// False when the series has no chart or no x axis of a known kind; a chart not laid out yet
// has no columns, and the series then shows every point.
bool LiveSeries::columnsFor(QXYSeries* series, PlotColumns* columns)
{
    QAbstractAxis* axis = xAxisOf(series);
    if (!series->chart() || !axis || !rangeOf(axis, columns))
        return false;
    follow(axis);
    // A column as wide as the line: finer ones would draw over the same pixels.
    const double columnWidth = qMax(1.0, series->pen().widthF());
    columns->count = int(std::ceil(series->chart()->plotArea().width() / columnWidth));
    return true;
}

QList<QXYSeries*> LiveSeries::keptAlong(const QAbstractAxis* axis) const
{
    QList<QXYSeries*> along;
    for (auto it = m_kept.constBegin(); it != m_kept.constEnd(); ++it) {
        if (xAxisOf(it.key()) == axis)
            along.append(it.key());
    }
    return along;
}

void LiveSeries::follow(QAbstractAxis* axis)
{
    if (auto* values = qobject_cast<QValueAxis*>(axis))
        connect(values, &QValueAxis::rangeChanged, this, &LiveSeries::drawAlongSender,
                Qt::UniqueConnection);
    else if (auto* dates = qobject_cast<QDateTimeAxis*>(axis))
        connect(dates, &QDateTimeAxis::rangeChanged, this, &LiveSeries::drawAlongSender,
                Qt::UniqueConnection);
    else if (auto* logs = qobject_cast<QLogValueAxis*>(axis))
        connect(logs, &QLogValueAxis::rangeChanged, this, &LiveSeries::drawAlongSender,
                Qt::UniqueConnection);
}

#include "moc_liveseries.cpp"
