// The GUI-thread half of the acquisition modes: queuing a mode for the worker thread, applying
// each reading to the device list and the chart series, and fitting the chart rectangle.
#include "engine/enginelog.h"
#include "engine/liveseries.h"
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "engine/sweepparameters.h"
#include "engine/workerasync.h"
#include "engine/workerprocess.h"
#include "models/dataproviderlist.h"

#include <QAreaSeries>
#include <QDateTime>
#include <QLineSeries>
#include <QXYSeries>
#include <cmath>

namespace {

// Time plots keep a little under three hours of one-second points.
constexpr int MaxTimePoints = 10000;
// The counts axis is logarithmic: nothing is plotted below this.
constexpr double MinPlottedCps = 1e-5;
// More bins than this would take the screen's memory and time without showing anything.
constexpr double MaxHistogramBins = SweepParameters::MaxSteps;

// "SSPD 12" style names carry the module address after a prefix.
QList<int> channelsFromSeriesNames(const QList<QAbstractSeries*>& series, const QString& prefix)
{
    QList<int> channels;
    for (QAbstractSeries* s : series) {
        if (!s || !s->name().contains(prefix))
            continue;
        QString rest = s->name();
        rest.remove(prefix);
        channels.append(rest.trimmed().toInt());
    }
    return channels;
}

// Counts per second as the status line shows them, e.g. "1.235e5" or "12.5".
QString countsText(double cps)
{
    QString text = QStringLiteral("%1").arg(cps, 6, 'g', 4);
    text.replace(QLatin1String("e+0"), QLatin1String("e"));
    text.remove(QLatin1Char(' '));
    return text;
}

double rowValue(const QList<DriverDataItem>* rows, const QString& name)
{
    if (rows) {
        for (const DriverDataItem& row : *rows) {
            if (row.name() == name)
                return row.value().toDouble();
        }
    }
    return qQNaN();
}

void setRect(MyChartRect* rect, double left, double right, double bottom, double top)
{
    rect->setLeft(left);
    rect->setRight(right);
    rect->setBottom(bottom);
    rect->setTop(top);
}

// One point: a 20 x 20 box around it; more: the box that holds them all.
void fitRect(MyChartRect* rect, const QList<QPointF>& points)
{
    if (points.size() == 1) {
        const QPointF p = points.first();
        setRect(rect, p.x() - 10, p.x() + 10, p.y() - 10, p.y() + 10);
        return;
    }
    double left = points.first().x(), right = left;
    double bottom = points.first().y(), top = bottom;
    for (const QPointF& p : points) {
        left = qMin(left, p.x());
        right = qMax(right, p.x());
        bottom = qMin(bottom, p.y());
        top = qMax(top, p.y());
    }
    setRect(rect, left, right, bottom, top);
}

} // namespace

QList<DriverDataItem>* WorkerAsync::currentSweepRows(WorkerMode mode)
{
    if (QList<DriverDataItem>* rows = m_settings->sweepParameters())
        return rows;
    return sweepParameterRows(mode);
}

void WorkerAsync::activateMode(WorkerAsync::WorkerMode mode)
{
    qCDebug(lcEngine) << "Mode:" << mode << "activated";
    m_currentMode = mode;
    const QList<int> activeChannel{m_settings->activeChannel()};
    switch (mode) {
    case WorkerModeSspdSingleChannel:
    case WorkerModeTemperatureSingleMode:
        m_process->addCommand(CommandSetActiveChannels, QVariant::fromValue(activeChannel));
        m_process->addCommand(CommandSetTimeOut, 500.0);
        break;
    case WorkerModeCpsVersTime:
    case WorkerModeTemperatureVersTime: {
        const QString prefix =
            mode == WorkerModeCpsVersTime ? QStringLiteral("SSPD ") : QStringLiteral("Temperature");
        const QList<int> channels = channelsFromSeriesNames(m_settings->series(), prefix);
        m_process->addCommand(CommandSetActiveChannels, QVariant::fromValue(channels));
        m_process->addCommand(CommandSetTimeOut, m_settings->timeConstant() * 1000.0);
        setStatusText(QStringLiteral("Start reading"));
        break;
    }
    case WorkerModeCpsVersCurrent:
    case WorkerModeCpsVersTrigger:
    case WorkerModeIVCurves:
    case WorkerModeHistogram:
        m_sweepParameters.clear();
        if (const QList<DriverDataItem>* rows = currentSweepRows(mode)) {
            for (const DriverDataItem& row : *rows)
                m_sweepParameters.insert(row.name(), row.value());
        }
        m_process->addCommand(CommandSetActiveChannels, QVariant::fromValue(activeChannel));
        m_process->addCommand(CommandSweepParams, m_sweepParameters);
        break;
    case WorkerModeAllChannels:
    case WorkerModeNoAction:
        break;
    }
    m_process->addCommand(CommandSetMode, int(mode));
}

void WorkerAsync::updateData(int address, QHash<QString, QVariant> data)
{
    const QList<DataProviderItem> items = m_dataList->items();
    int index = -1;
    for (int i = 0; i < items.size(); ++i) {
        const auto it = items.at(i).constFind(QStringLiteral("address"));
        if (it != items.at(i).constEnd() && it->toInt() == address)
            index = i;
    }
    if (index < 0)
        return;

    if (!data.isEmpty()) {
        DataProviderItem record = items.at(index);
        for (auto it = data.constBegin(); it != data.constEnd(); ++it)
            record.insert(it.key(), it.value());
        m_dataList->setItemAt(index, record);
        emit m_dataList->dataUpdated(index, data.keys());
    }

    const double now = double(QDateTime::currentMSecsSinceEpoch());
    switch (m_currentMode) {
    case WorkerModeSspdSingleChannel:
    case WorkerModeCpsVersTime: {
        if (!data.contains(QStringLiteral("cps")))
            return;
        const QString name = QStringLiteral("SSPD %1").arg(address);
        const double cps = qMax(data.value(QStringLiteral("cps")).toDouble(), MinPlottedCps);
        for (QAbstractSeries* s : m_settings->series()) {
            auto* series = qobject_cast<QXYSeries*>(s);
            if (series && series->name() == name)
                m_settings->liveSeries()->append(series, QPointF(now, cps), MaxTimePoints);
        }
        break;
    }
    case WorkerModeTemperatureSingleMode:
    case WorkerModeTemperatureVersTime: {
        if (!data.contains(QStringLiteral("temperature")))
            return;
        const QString name = QStringLiteral("Temperature %1").arg(address);
        const double kelvin = data.value(QStringLiteral("temperature")).toDouble();
        for (QAbstractSeries* s : m_settings->series()) {
            auto* series = qobject_cast<QXYSeries*>(s);
            if (series && series->name() == name)
                m_settings->liveSeries()->append(series, QPointF(now, kelvin), MaxTimePoints);
        }
        break;
    }
    case WorkerModeCpsVersCurrent:
    case WorkerModeCpsVersTrigger:
    case WorkerModeIVCurves:
    case WorkerModeHistogram:
        plotSweepReading(data);
        break;
    case WorkerModeAllChannels:
    case WorkerModeNoAction:
        break;
    }
}

void WorkerAsync::plotSweepReading(const QHash<QString, QVariant>& data)
{
    const QList<QAbstractSeries*> series = m_settings->series();
    QAbstractSeries* last = series.isEmpty() ? nullptr : series.last();
    auto* xy = qobject_cast<QXYSeries*>(last);
    const double cps = data.value(QStringLiteral("cps")).toDouble();

    switch (m_currentMode) {
    case WorkerModeCpsVersCurrent: {
        if (!data.contains(QStringLiteral("cps")) || !data.contains(QStringLiteral("current")))
            return;
        const double microamperes = data.value(QStringLiteral("current")).toDouble() * 1e6;
        setStatusText(QStringLiteral("X: %1 μА\r\nY: %2 cps")
                          .arg(microamperes, 0, 'f', 1)
                          .arg(countsText(cps)));
        if (xy)
            xy->append(microamperes, qMax(cps, MinPlottedCps));
        break;
    }
    case WorkerModeCpsVersTrigger: {
        if (!data.contains(QStringLiteral("cps")) ||
            !data.contains(QStringLiteral("cmp_ref_level")))
            return;
        const double millivolts = data.value(QStringLiteral("cmp_ref_level")).toDouble() * 1000.0;
        setStatusText(QStringLiteral("X: %1 mV\r\nY: %2 cps")
                          .arg(millivolts, 0, 'f', 1)
                          .arg(countsText(cps)));
        if (xy)
            xy->append(millivolts, qMax(cps, MinPlottedCps));
        break;
    }
    case WorkerModeIVCurves: {
        if (!data.contains(QStringLiteral("current")) || !data.contains(QStringLiteral("voltage")))
            return;
        const double millivolts = data.value(QStringLiteral("voltage")).toDouble() * 1000.0;
        const double microamperes = data.value(QStringLiteral("current")).toDouble() * 1e6;
        setStatusText(QStringLiteral("X: %1 mV\r\nY: %2 μА")
                          .arg(millivolts, 0, 'f', 1)
                          .arg(microamperes, 0, 'f', 1));
        if (xy)
            xy->append(millivolts, microamperes);
        break;
    }
    case WorkerModeHistogram: {
        if (!data.contains(QStringLiteral("cps")))
            return;
        setStatusText(QStringLiteral("cps: %1").arg(cps, 0, 'f', 1));
        auto* area = qobject_cast<QAreaSeries*>(last);
        if (!area || !area->upperSeries())
            return;
        if (area->upperSeries()->count() == 0 && !layOutHistogram(area))
            return;
        countIntoHistogram(area, cps);
        break;
    }
    default:
        break;
    }
}

bool WorkerAsync::layOutHistogram(QAreaSeries* area)
{
    const QList<DriverDataItem>* rows = currentSweepRows(WorkerModeHistogram);
    const double from = rowValue(rows, QStringLiteral("from"));
    const double to = rowValue(rows, QStringLiteral("to"));
    const double step = rowValue(rows, QStringLiteral("step"));
    const double bins = std::trunc((to - from) / step);
    // A zero, negative or non-finite bin width, or a range that makes no bins or absurdly
    // many, would hang the screen or exhaust its memory: refuse it and count nothing.
    if (!std::isfinite(from) || !std::isfinite(step) || !(step > 0) || !std::isfinite(bins) ||
        bins < 1 || bins > MaxHistogramBins) {
        m_histogramStep = 0.0;
        setStatusText(QStringLiteral("Histogram not laid out: from %1 to %2 with bin width %3 "
                                     "gives no usable bins")
                          .arg(from)
                          .arg(to)
                          .arg(step));
        return false;
    }
    m_histogramFrom = from;
    m_histogramStep = step;

    const int n = int(bins);
    QList<QPointF> points;
    points.reserve(4 * n);
    for (int i = 0; i < n; ++i) {
        const double left = from + step * (i + 0.05);
        const double right = from + step * (i + 0.95);
        points << QPointF(left, 0) << QPointF(left, 0) << QPointF(right, 0) << QPointF(right, 0);
    }
    area->upperSeries()->replace(points);

    // A base line made by an earlier layout goes; one the chart supplied stays the chart's.
    QLineSeries* oldLower = area->lowerSeries();
    auto* lower = new QLineSeries(area);
    lower->append(from + 0.05 * step, 0);
    lower->append(from + step * (n - 0.05), 0);
    area->setLowerSeries(lower);
    if (oldLower && oldLower->parent() == area)
        oldLower->deleteLater();
    return true;
}

void WorkerAsync::countIntoHistogram(QAreaSeries* area, double cps)
{
    if (m_histogramStep == 0.0)
        return;
    QLineSeries* upper = area->upperSeries();
    // Truncation toward zero: a reading less than one bin below "from" counts into bin 0.
    const double bin = std::trunc((cps - m_histogramFrom) / m_histogramStep);
    if (!std::isfinite(bin) || bin < 0 || 4 * bin + 2 >= upper->count())
        return;
    const int k = 4 * int(bin);
    for (int i : {k + 1, k + 2}) {
        const QPointF p = upper->at(i);
        upper->replace(i, QPointF(p.x(), p.y() + 1));
    }
}

void WorkerAsync::updatePlot()
{
    if (m_currentMode == WorkerModeNoAction)
        return;
    MyChartRect* rect = chartRectFor(m_currentMode);
    const QList<QAbstractSeries*> series = m_settings->series();

    switch (m_currentMode) {
    case WorkerModeSspdSingleChannel:
    case WorkerModeTemperatureSingleMode:
    case WorkerModeCpsVersTime:
    case WorkerModeTemperatureVersTime: {
        const double now = double(QDateTime::currentMSecsSinceEpoch());
        const bool single = m_currentMode == WorkerModeSspdSingleChannel ||
                            m_currentMode == WorkerModeTemperatureSingleMode;
        double left = rect->left();
        if (single) {
            left = now - 19500;
        } else if (m_settings->mode() == CpsVsTimeWindowed) {
            left = now + 500 - 1000 * m_settings->timeWindowSize();
        } else {
            // Free running: the plot grows from its first point until it spans 11 s, then
            // shows the last 10 s.
            auto* first = qobject_cast<QXYSeries*>(series.value(0));
            const QList<QPointF> points =
                first ? m_settings->liveSeries()->points(first) : QList<QPointF>();
            if (!points.isEmpty() && now - 11000 < points.first().x())
                left = now - 9500;
        }
        rect->setLeft(left);
        rect->setRight(now + 500);

        if (m_settings->autoscale() || single) {
            double bottom = 1e20;
            double top = 0.0;
            bool visible = false;
            for (QAbstractSeries* s : series) {
                auto* xy = qobject_cast<QXYSeries*>(s);
                if (!xy)
                    continue;
                for (const QPointF& p : m_settings->liveSeries()->points(xy)) {
                    if (p.x() > left) {
                        visible = true;
                        bottom = qMin(bottom, p.y());
                        top = qMax(top, p.y());
                    }
                }
            }
            // Without a visible point the Y range stays as it was rather than flipping to
            // an empty 1e20..0 range.
            if (visible) {
                if (bottom == top) {
                    bottom -= 10;
                    top += 10;
                }
                rect->setBottom(bottom);
                rect->setTop(top);
            }
        }
        break;
    }
    case WorkerModeCpsVersCurrent:
    case WorkerModeCpsVersTrigger:
    case WorkerModeIVCurves: {
        QList<QPointF> points;
        for (QAbstractSeries* s : series) {
            if (points.size() >= 3)
                break;
            if (auto* xy = qobject_cast<QXYSeries*>(s)) {
                for (int i = 0; i < qMin(3, xy->count()); ++i)
                    points.append(xy->at(i));
            }
        }
        if (points.size() == 1 || points.size() == 2) {
            fitRect(rect, points);
        } else if (points.size() >= 3) {
            // Past the first points the rectangle only grows with each new reading.
            auto* lastSeries = qobject_cast<QXYSeries*>(series.last());
            if (lastSeries && lastSeries->count() > 0) {
                const QPointF p = lastSeries->at(lastSeries->count() - 1);
                setRect(rect, qMin(rect->left(), p.x()), qMax(rect->right(), p.x()),
                        qMin(rect->bottom(), p.y()), qMax(rect->top(), p.y()));
            }
        }
        if (m_currentMode != WorkerModeIVCurves) {
            // The counts axis is logarithmic: a range ending at the plotting floor would
            // squeeze every real reading into the top of the chart.
            if (rect->bottom() == MinPlottedCps)
                rect->setBottom(0.1);
            if (rect->top() == MinPlottedCps)
                rect->setTop(1.0);
        }
        break;
    }
    case WorkerModeHistogram: {
        double left = 1e9, right = 0.0, top = 0.0;
        for (QAbstractSeries* s : series) {
            auto* area = qobject_cast<QAreaSeries*>(s);
            if (!area || !area->upperSeries() || area->upperSeries()->count() == 0)
                continue;
            const QLineSeries* upper = area->upperSeries();
            left = qMin(left, upper->at(0).x());
            right = qMax(right, upper->at(upper->count() - 1).x());
            for (int i = 1; i < upper->count(); i += 4) {
                if (upper->at(i).y() >= top)
                    top = upper->at(i).y() + 1;
            }
        }
        setRect(rect, left, right, 0.0, top);
        break;
    }
    case WorkerModeAllChannels:
    case WorkerModeNoAction:
        break;
    }
    m_settings->setChartRect(rect);
}

void WorkerAsync::rescaleChartRec(WorkerAsync::WorkerMode mode)
{
    qCDebug(lcEngine) << "rescale chart rect";
    MyChartRect* rect = chartRectFor(mode);
    QList<QPointF> points;
    for (QAbstractSeries* s : m_settings->series()) {
        if (mode == WorkerModeHistogram) {
            auto* area = qobject_cast<QAreaSeries*>(s);
            if (area && area->upperSeries())
                points.append(area->upperSeries()->points());
        } else if (auto* xy = qobject_cast<QXYSeries*>(s)) {
            points.append(m_settings->liveSeries()->points(xy));
        }
    }
    if (points.isEmpty())
        points.append(QPointF(0, 0));
    fitRect(rect, points);
    m_settings->setChartRect(rect);
}
