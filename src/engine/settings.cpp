#include "settings.h"

#include "engine/enginelog.h"
#include "engine/liveseries.h"
#include "engine/mychartrect.h"
#include "models/datamodel.h"
#include "models/driverdatamodel.h"

#include <QAbstractAxis>
#include <QtGlobal>

// Doubles compare with qFuzzyCompare (relative 1e-12; zero equals only exact zero).

Settings::Settings(QObject* parent)
    : QObject(parent), m_chartRect(new MyChartRect(this)),
      m_sweepParameterModel(new DriverDataModel(this)), m_liveSeries(new LiveSeries(this))
{
}

void Settings::setTimeConstant(double timeConstant)
{
    if (qFuzzyCompare(m_timeConstant, timeConstant))
        return;
    m_timeConstant = timeConstant;
    emit timeConstantChanged();
}

void Settings::setMode(WorkerAsync::CpsVsTimeMode mode)
{
    if (m_mode == mode)
        return;
    m_mode = mode;
    emit modeChanged();
}

void Settings::setAutoscale(bool autoscale)
{
    if (m_autoscale == autoscale)
        return;
    m_autoscale = autoscale;
    emit autoscaleChanged();
}

void Settings::setTimeWindowSize(double seconds)
{
    if (qFuzzyCompare(m_timeWindowSize, seconds))
        return;
    m_timeWindowSize = seconds;
    emit timeWindowSizeChanged();
}

void Settings::setSeries(const QList<QAbstractSeries*>& series)
{
    // Same pointers in the same order: QList equality compares exactly that.
    if (m_series == series)
        return;
    m_series = series;
    emit seriesChanged();
}

void Settings::setChartRect(MyChartRect* rect)
{
    // The previous rectangle is not deleted: the worker keeps one per mode.
    if (m_chartRect == rect)
        return;
    m_chartRect = rect;
    emit chartRectChanged();
}

void Settings::setActiveChannel(int address)
{
    // No equality check on purpose: choosing the same channel again rebuilds its rows, which
    // is how the screen refreshes the parameter panel.
    m_activeChannel = address;
    DataModel::instance()->setActiveDriver(address);
    emit activeChannelChanged();
}

void Settings::setSweepParameters(QList<DriverDataItem>* rows)
{
    qCDebug(lcEngine) << "Sweep parameter update";
    if (!rows)
        return;
    m_sweepParameters = rows;
    m_sweepParameterModel->setList(rows);
}

void Settings::setAxisRange(QObject* axis, const QVariant& min, const QVariant& max) const
{
    if (auto* chartAxis = qobject_cast<QAbstractAxis*>(axis))
        m_liveSeries->setAxisRange(chartAxis, min, max);
}

#include "moc_settings.cpp"
