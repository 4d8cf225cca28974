#pragma once
// Moving average over the last n values, with the trend of that average across the window
// (newest average minus oldest), for watching a slowly settling reading such as a
// temperature.
#include <QList>

class WindowedAverage
{
public:
    // A window of 0 values has no average; it is taken as a window of 1.
    explicit WindowedAverage(quint32 windowSize);

    // Adds v and returns the average of the values now in the window.
    double addValue(double v);
    // Newest minus oldest average kept; 0 until the window is more than half full.
    double trend() const { return m_trend; }
    void clear();

    quint32 windowSize() const { return m_windowSize; }

private:
    quint32 m_windowSize;
    QList<double> m_values;
    QList<double> m_averages;
    double m_sum = 0.0;
    double m_trend = 0.0;
};
