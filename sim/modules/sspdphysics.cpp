#include "sspdphysics.h"

#include "core/simenvironment.h"

#include <QStringList>
#include <cmath>
#include <limits>

namespace {

struct Key
{
    const char* name;
    double SspdPhysics::Parameters::*member;
    double minimum;
    bool positive; // strictly above the minimum
    double maximum;
    bool current; // scales with the switching current
    bool hfOnly;
};

constexpr double Huge = 1e300;

const Key Keys[] = {
    {"switchingCurrent", &SspdPhysics::Parameters::switchingCurrent, 0, true, 1, false, false},
    {"retrappingCurrent", &SspdPhysics::Parameters::retrappingCurrent, 0, true, 1, true, false},
    {"seriesResistance", &SspdPhysics::Parameters::seriesResistance, 0, false, Huge, false, false},
    {"normalResistance", &SspdPhysics::Parameters::normalResistance, 0, false, Huge, false, false},
    {"photonRate", &SspdPhysics::Parameters::photonRate, 0, false, 1e12, false, false},
    {"efficiency", &SspdPhysics::Parameters::efficiency, 0, false, 1, false, false},
    {"efficiencyCurrent", &SspdPhysics::Parameters::efficiencyCurrent, 0, false, 1, true, false},
    {"efficiencyWidth", &SspdPhysics::Parameters::efficiencyWidth, 0, true, 1, true, false},
    {"darkRate", &SspdPhysics::Parameters::darkRate, 0, false, 1e12, false, false},
    {"darkSlope", &SspdPhysics::Parameters::darkSlope, 0, true, 1, true, false},
    {"pulseGain", &SspdPhysics::Parameters::pulseGain, 0, false, Huge, false, false},
    {"pulseSpread", &SspdPhysics::Parameters::pulseSpread, 0, false, 10, false, false},
    {"noiseFloor", &SspdPhysics::Parameters::noiseFloor, 0, true, 100, false, false},
    {"noiseRate", &SspdPhysics::Parameters::noiseRate, 0, false, 1e12, false, false},
    {"deadTime", &SspdPhysics::Parameters::deadTime, 0, false, 1, false, false},
    {"currentNoise", &SspdPhysics::Parameters::currentNoise, 0, false, 1, false, false},
    {"voltageNoise", &SspdPhysics::Parameters::voltageNoise, 0, false, 100, false, false},
    {"hfDeadTime", &SspdPhysics::Parameters::hfDeadTime, 0, false, 1, false, true},
    {"hfNoiseFactor", &SspdPhysics::Parameters::hfNoiseFactor, 0, true, 1e3, false, true},
};

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

// The gate window the counter can resolve: 100 us to about eleven days.
constexpr qint64 MinWindowUs = 100;
constexpr qint64 MaxWindowUs = qint64(1e12);
// An auto-reset cycle shorter than this would only burn time; the circuit needs it anyway.
constexpr qint64 MinTimeOutUs = 1000;

} // namespace

SspdPhysics::SspdPhysics(SimEnvironment* environment, bool hasHfMode)
    : m_environment(environment), m_hasHfMode(hasHfMode)
{
    reset();
}

bool SspdPhysics::configure(const QJsonObject& physics, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    Parameters next = m_parameters;
    QStringList known;
    for (const Key& key : Keys) {
        if (key.hfOnly && !m_hasHfMode)
            continue;
        known << QString::fromLatin1(key.name);
    }
    for (auto it = physics.begin(); it != physics.end(); ++it) {
        if (!known.contains(it.key()))
            return fail(QStringLiteral("unknown SSPD physics key \"%1\"").arg(it.key()));
    }
    const double oldSwitching = next.switchingCurrent;
    for (const Key& key : Keys) {
        const QJsonValue value = physics.value(QString::fromLatin1(key.name));
        if (value.isUndefined() || (key.hfOnly && !m_hasHfMode))
            continue;
        const double number = value.toDouble();
        const bool inRange = value.isDouble() && std::isfinite(number) &&
                             (key.positive ? number > key.minimum : number >= key.minimum) &&
                             number <= key.maximum;
        if (!inRange)
            return fail(QStringLiteral("SSPD physics key \"%1\" must be a number from %2%3 to %4")
                            .arg(QString::fromLatin1(key.name))
                            .arg(key.positive ? QStringLiteral("above ") : QString())
                            .arg(key.minimum)
                            .arg(key.maximum));
        next.*key.member = number;
    }
    if (physics.contains(QStringLiteral("switchingCurrent"))) {
        const double scale = next.switchingCurrent / oldSwitching;
        for (const Key& key : Keys) {
            if (key.current && !physics.contains(QString::fromLatin1(key.name)))
                next.*key.member *= scale;
        }
    }
    if (!(next.retrappingCurrent < next.switchingCurrent))
        return fail(
            QStringLiteral("SSPD physics: retrappingCurrent must be below switchingCurrent"));

    advance();
    m_parameters = next;
    updateLatch();
    updateArming();
    return true;
}

void SspdPhysics::reset()
{
    m_lastUs = nowUs();
    m_bias = 0;
    m_chain = Chain{};
    m_trigger = 0;
    m_latched = false;
    m_windowUs = 100000;
    m_windowStartUs = m_lastUs;
    m_expected = 0;
    m_lastCounts = 0;
    m_autoResetOn = false;
    m_autoResetThreshold = 0;
    m_autoResetTimeOut = 0;
    m_autoResetCount = 0;
    m_armed = false;
    m_armedSinceUs = m_lastUs;
}

void SspdPhysics::setBias(double amperes)
{
    advance();
    m_bias = finiteOrZero(amperes);
    updateLatch();
    updateArming();
}

void SspdPhysics::setChain(const Chain& chain)
{
    advance();
    m_chain = chain;
    if (!m_hasHfMode)
        m_chain.hfMode = false;
    updateLatch();
    updateArming();
}

void SspdPhysics::setTrigger(double volts)
{
    advance();
    m_trigger = finiteOrZero(volts);
}

void SspdPhysics::setTimeConstant(double seconds)
{
    const double us = std::isfinite(seconds) ? seconds * 1e6 : 0.0;
    const qint64 window = qBound(MinWindowUs, qint64(std::llround(qMin(us, 1e15))), MaxWindowUs);
    advance();
    if (window == m_windowUs)
        return;
    // The counter starts a fresh gate; what it showed belonged to the old one.
    m_windowUs = window;
    m_windowStartUs = m_lastUs;
    m_expected = 0;
    m_lastCounts = 0;
}

void SspdPhysics::setAutoReset(bool on, double thresholdVolts, double timeOutSeconds)
{
    advance();
    m_autoResetOn = on;
    m_autoResetThreshold = thresholdVolts;
    m_autoResetTimeOut = finiteOrZero(timeOutSeconds);
    updateArming();
}

void SspdPhysics::setAutoResetCount(quint32 count)
{
    advance();
    m_autoResetCount = count;
}

bool SspdPhysics::latched()
{
    advance();
    return m_latched;
}

double SspdPhysics::voltage()
{
    advance();
    const double current = detectorCurrent();
    const double resistance =
        m_parameters.seriesResistance + (m_latched ? m_parameters.normalResistance : 0.0);
    return current * resistance;
}

double SspdPhysics::counts()
{
    advance();
    return m_lastCounts;
}

quint32 SspdPhysics::autoResetCount()
{
    advance();
    return m_autoResetCount;
}

double SspdPhysics::countRate()
{
    advance();
    return rateNow();
}

double SspdPhysics::measuredCurrent()
{
    advance();
    return m_environment->gaussian(m_bias, m_parameters.currentNoise);
}

double SspdPhysics::measuredDetectorCurrent()
{
    advance();
    return m_environment->gaussian(detectorCurrent(), m_parameters.currentNoise);
}

double SspdPhysics::measuredVoltage()
{
    const double v = voltage();
    return m_environment->gaussian(v, m_parameters.voltageNoise);
}

double SspdPhysics::efficiency(double bias) const
{
    const double x =
        (std::abs(bias) - m_parameters.efficiencyCurrent) / m_parameters.efficiencyWidth;
    return m_parameters.efficiency / (1.0 + std::exp(-qBound(-700.0, x, 700.0)));
}

double SspdPhysics::darkRate(double bias) const
{
    const double x = (std::abs(bias) - m_parameters.switchingCurrent) / m_parameters.darkSlope;
    return m_parameters.darkRate * std::exp(qMin(x, 50.0));
}

double SspdPhysics::pulseFraction(double bias, double trigger) const
{
    // Pulse heights grow with the bias (the hot spot diverts the whole current into the
    // amplifier) and spread around their mean; a trigger above all of them counts nothing.
    const double mean = m_parameters.pulseGain * std::abs(bias);
    const double sigma = qMax(m_parameters.pulseSpread * mean, 1e-9);
    return 0.5 * std::erfc((trigger - mean) / (std::sqrt(2.0) * sigma));
}

double SspdPhysics::noiseRate(double trigger, bool hfMode) const
{
    // Rice's rate of upward crossings of a level by Gaussian noise.
    if (trigger <= 0)
        return m_parameters.noiseRate;
    const double sigma =
        m_parameters.noiseFloor * (hfMode && m_hasHfMode ? m_parameters.hfNoiseFactor : 1.0);
    return m_parameters.noiseRate * std::exp(-trigger * trigger / (2.0 * sigma * sigma));
}

double SspdPhysics::rateNow() const
{
    const Chain& c = m_chain;
    if (c.shorted || !c.amplifier || !c.comparator || !c.counter || m_latched)
        return 0.0;
    const double current = detectorCurrent();
    const double pulses = (m_parameters.photonRate * efficiency(current) + darkRate(current)) *
                          pulseFraction(current, m_trigger);
    const bool hf = c.hfMode && m_hasHfMode;
    const double raw = pulses + noiseRate(m_trigger, hf);
    const double dead = hf ? m_parameters.hfDeadTime : m_parameters.deadTime;
    return raw / (1.0 + raw * dead);
}

qint64 SspdPhysics::nowUs() const
{
    return m_environment->nowMs() * 1000;
}

qint64 SspdPhysics::timeOutUs() const
{
    const double us = qMin(m_autoResetTimeOut * 1e6, 1e15);
    return qMax(MinTimeOutUs, qint64(std::llround(us)));
}

void SspdPhysics::advance()
{
    const qint64 now = nowUs();
    while (m_lastUs < now) {
        const qint64 due = m_armedSinceUs + timeOutUs();
        const bool fires = m_armed && due <= now;
        const qint64 end = fires ? qMax(due, m_lastUs) : now;
        integrate(end, rateNow());
        if (!fires)
            break;
        fireAutoReset(end);
    }
}

void SspdPhysics::integrate(qint64 untilUs, double rate)
{
    qint64 position = m_lastUs;
    while (position < untilUs) {
        const qint64 windowEnd = m_windowStartUs + m_windowUs;
        if (windowEnd > untilUs) {
            m_expected += rate * double(untilUs - position) * 1e-6;
            break;
        }
        m_expected += rate * double(windowEnd - position) * 1e-6;
        m_lastCounts = m_environment->poisson(m_expected);
        m_expected = 0;
        m_windowStartUs = windowEnd;
        position = windowEnd;
        // Whole windows at one rate: only the last of them is ever reported.
        const qint64 whole = (untilUs - m_windowStartUs) / m_windowUs;
        if (whole >= 1) {
            m_windowStartUs += whole * m_windowUs;
            m_lastCounts = m_environment->poisson(rate * double(m_windowUs) * 1e-6);
            position = m_windowStartUs;
        }
    }
    m_lastUs = qMax(m_lastUs, untilUs);
}

void SspdPhysics::fireAutoReset(qint64 atUs)
{
    // The auto-reset shorts the bias for a moment: the wire retraps. With the bias still
    // above the switching current it latches again at once, and the cycle repeats every
    // time-out until someone lowers the bias.
    if (m_autoResetCount < std::numeric_limits<quint32>::max())
        ++m_autoResetCount;
    if (std::abs(detectorCurrent()) > m_parameters.switchingCurrent) {
        const qint64 period = timeOutUs();
        const qint64 more = (nowUs() - atUs) / period;
        const quint64 room = std::numeric_limits<quint32>::max() - m_autoResetCount;
        m_autoResetCount += quint32(qMin<quint64>(quint64(more), room));
        m_armedSinceUs = atUs + more * period;
        return;
    }
    m_latched = false;
    m_armed = false;
}

void SspdPhysics::updateLatch()
{
    const double current = std::abs(detectorCurrent());
    if (current > m_parameters.switchingCurrent)
        m_latched = true;
    else if (current < m_parameters.retrappingCurrent)
        m_latched = false;
}

void SspdPhysics::updateArming()
{
    bool armed = m_autoResetOn && m_latched;
    if (armed) {
        const double latchedVoltage = std::abs(detectorCurrent()) * (m_parameters.seriesResistance +
                                                                     m_parameters.normalResistance);
        armed = latchedVoltage > m_autoResetThreshold; // false for a threshold that is NaN
    }
    if (armed && !m_armed)
        m_armedSinceUs = m_lastUs;
    m_armed = armed;
}
