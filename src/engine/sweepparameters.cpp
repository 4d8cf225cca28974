#include "sweepparameters.h"

#include <climits>
#include <cmath>

namespace {

// Percent; far above the rounding error of any sum of steps, far below one step.
constexpr double ProgressTolerance = 1e-6;

} // namespace

SweepParameters::SweepParameters(const QVariantMap& map)
    : m_from(map.value(QStringLiteral("from")).toDouble()),
      m_to(map.value(QStringLiteral("to")).toDouble()),
      m_step(map.value(QStringLiteral("step")).toDouble()),
      m_current(map.value(QStringLiteral("current")).toDouble()),
      m_trigger(map.value(QStringLiteral("trigger")).toDouble()),
      m_hasTrigger(map.contains(QStringLiteral("trigger"))),
      m_timeConstant(map.value(QStringLiteral("time_constant")).toDouble()),
      m_hasTimeConstant(map.contains(QStringLiteral("time_constant")))
{
}

int SweepParameters::timeConstantMs() const
{
    // To the nearest: 0.57 s is 569.99999 ms in binary and must not become 569 ms, which the
    // module, holding 0.57, would never match.
    const double ms = m_timeConstant * 1000.0;
    if (!m_hasTimeConstant || !std::isfinite(ms) || ms < 0.0 || ms > double(INT_MAX))
        return -1;
    return qRound(ms);
}

double SweepParameters::progress() const
{
    // Without a span the ratio would be no number at all, and a sweep judged by it would
    // never finish.
    if (m_to == m_from)
        return 100.0;
    return (m_current - m_from) / (m_to - m_from) * 100.0;
}

double SweepParameters::next() const
{
    return m_from < m_to ? m_current + m_step : m_current - m_step;
}

bool SweepParameters::finished() const
{
    if (m_to == m_from)
        return true;
    // The position is a sum of steps: at "to" it may stand a rounding error past 100 %, and
    // the reading one step beyond "to" would then be skipped.
    return progress() > 100.0 + ProgressTolerance;
}

QString SweepParameters::problem() const
{
    if (!std::isfinite(m_from) || !std::isfinite(m_to))
        return QStringLiteral("start and end must be finite numbers");
    // A stop level that is no number would stop the sweep at its first reading.
    if (m_hasTrigger && !std::isfinite(m_trigger))
        return QStringLiteral("the stop trigger must be a finite number");
    // The direction comes from "from" and "to"; a step of zero or against it never
    // reaches the end, nor does one lost in rounding beside "from", and one that is no
    // number writes no number to the module. A single point takes no step at all.
    if (m_to == m_from)
        return {};
    const double second = m_from < m_to ? m_from + m_step : m_from - m_step;
    if (!std::isfinite(m_step) || m_step <= 0.0 || second == m_from)
        return QStringLiteral("the step must be a number above 0");
    const double steps = std::abs(m_to - m_from) / m_step;
    if (steps > MaxSteps)
        return QStringLiteral("from %1 to %2 in steps of %3 takes %4 steps; at most %5 are allowed")
            .arg(m_from)
            .arg(m_to)
            .arg(m_step)
            .arg(std::ceil(steps), 0, 'g', 3)
            .arg(MaxSteps, 0, 'f', 0);
    return {};
}
