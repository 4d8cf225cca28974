#include "windowedaverage.h"

#include <algorithm>

WindowedAverage::WindowedAverage(quint32 windowSize)
    : m_windowSize(std::max<quint32>(windowSize, 1))
{
    clear();
}

double WindowedAverage::addValue(double v)
{
    m_sum += v;
    m_values.append(v);
    if (quint32(m_values.size()) > m_windowSize)
        m_sum -= m_values.takeFirst();
    const double average = m_sum / double(m_values.size());

    // Averages of a window less than half full are too noisy to judge a trend by.
    if (quint32(m_values.size()) > m_windowSize / 2) {
        m_averages.append(average);
        if (quint32(m_averages.size()) > m_windowSize)
            m_averages.removeFirst();
        m_trend = m_averages.last() - m_averages.first();
    }
    return average;
}

void WindowedAverage::clear()
{
    m_values.clear();
    m_averages.clear();
    m_sum = 0.0;
    m_trend = 0.0;
}
