#pragma once
// Plot and channel settings that the screen and the worker share: live plots, chart series and
// rectangle, the active channel and the model of the current sweep's parameter rows.
#include "engine/workerasync.h"

#include <QList>
#include <QObject>

class DriverDataModel;
class LiveSeries;
class MyChartRect;
class QAbstractSeries;

class Settings : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("engine/mychartrect.h")
    Q_MOC_INCLUDE("models/driverdatamodel.h")
    Q_MOC_INCLUDE(<QAbstractSeries>)
    Q_PROPERTY(
        double timeConstant READ timeConstant WRITE setTimeConstant NOTIFY timeConstantChanged)
    Q_PROPERTY(WorkerAsync::CpsVsTimeMode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(bool autoscale READ autoscale WRITE setAutoscale NOTIFY autoscaleChanged)
    Q_PROPERTY(double timeWindowSize READ timeWindowSize WRITE setTimeWindowSize NOTIFY
                   timeWindowSizeChanged)
    Q_PROPERTY(QList<QAbstractSeries*> series READ series WRITE setSeries NOTIFY seriesChanged)
    Q_PROPERTY(MyChartRect* chartRect READ chartRect WRITE setChartRect NOTIFY chartRectChanged)
    Q_PROPERTY(
        int activeChannel READ activeChannel WRITE setActiveChannel NOTIFY activeChannelChanged)
    Q_PROPERTY(DriverDataModel* SweepParameterModel READ SweepParameterModel CONSTANT)

public:
    explicit Settings(QObject* parent = nullptr);

    double timeConstant() const { return m_timeConstant; }
    void setTimeConstant(double timeConstant);
    WorkerAsync::CpsVsTimeMode mode() const { return m_mode; }
    void setMode(WorkerAsync::CpsVsTimeMode mode);
    bool autoscale() const { return m_autoscale; }
    void setAutoscale(bool autoscale);
    double timeWindowSize() const { return m_timeWindowSize; }
    void setTimeWindowSize(double seconds);
    // Non-owning: the series belong to the chart that handed them over.
    QList<QAbstractSeries*> series() const { return m_series; }
    void setSeries(const QList<QAbstractSeries*>& series);
    MyChartRect* chartRect() const { return m_chartRect; }
    void setChartRect(MyChartRect* rect);
    int activeChannel() const { return m_activeChannel; }
    void setActiveChannel(int address);
    DriverDataModel* SweepParameterModel() const { return m_sweepParameterModel; }

    // Shows the given rows in SweepParameterModel; the rows stay the caller's. Null is ignored.
    void setSweepParameters(QList<DriverDataItem>* rows);
    // The rows last handed to setSweepParameters (null before the first).
    QList<DriverDataItem>* sweepParameters() const { return m_sweepParameters; }

    // Sets both ends of a chart axis at once. Setting min and max one after the other makes
    // the chart lay out every series on the axis twice; the live series along the axis are
    // thinned for the new range before it (LiveSeries). Anything but an axis is ignored.
    Q_INVOKABLE void setAxisRange(QObject* axis, const QVariant& min, const QVariant& max) const;
    // All points of the live time series, which their chart series show thinned.
    LiveSeries* liveSeries() const { return m_liveSeries; }

signals:
    void timeConstantChanged();
    void modeChanged();
    void autoscaleChanged();
    void timeWindowSizeChanged();
    void seriesChanged();
    void chartRectChanged();
    void activeChannelChanged();

private:
    double m_timeConstant = 1.0;
    WorkerAsync::CpsVsTimeMode m_mode = WorkerAsync::CpsVsTimeWindowed;
    bool m_autoscale = true;
    double m_timeWindowSize = 30.0;
    QList<QAbstractSeries*> m_series;
    MyChartRect* m_chartRect = nullptr;
    // Matches no module address until the screen picks a channel.
    int m_activeChannel = -1;
    DriverDataModel* m_sweepParameterModel = nullptr;
    QList<DriverDataItem>* m_sweepParameters = nullptr;
    LiveSeries* m_liveSeries = nullptr;
};
