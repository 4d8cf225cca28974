#include "simenvironment.h"

#include <cmath>

SimEnvironment::SimEnvironment(quint32 seed, QObject* parent) : QObject(parent), m_random(seed)
{
    m_elapsed.start();
}

qint64 SimEnvironment::nowMs() const
{
    return m_manual ? m_manualMs : m_elapsed.elapsed();
}

void SimEnvironment::useManualClock(qint64 startMs)
{
    m_manual = true;
    m_manualMs = startMs;
}

void SimEnvironment::advance(qint64 ms)
{
    m_manualMs += ms;
}

double SimEnvironment::gaussian(double mean, double sigma)
{
    // Box-Muller; 1 - u keeps the logarithm finite.
    const double u1 = 1.0 - m_random.generateDouble();
    const double u2 = m_random.generateDouble();
    return mean + sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

quint32 SimEnvironment::poisson(double mean)
{
    if (!(mean > 0))
        return 0;
    if (mean > 30) {
        const double draw = std::round(gaussian(mean, std::sqrt(mean)));
        return draw < 0 ? 0 : quint32(qMin(draw, 4.0e9));
    }
    const double limit = std::exp(-mean);
    quint32 k = 0;
    double p = m_random.generateDouble();
    while (p > limit) {
        ++k;
        p *= m_random.generateDouble();
    }
    return k;
}
