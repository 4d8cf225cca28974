#include "simcoldstage.h"

#include "core/simenvironment.h"

#include <QJsonValue>
#include <QStringList>
#include <cmath>

SimColdStage::SimColdStage(SimEnvironment* environment) : SimColdStage(environment, Parameters()) {}

SimColdStage::SimColdStage(SimEnvironment* environment, const Parameters& parameters)
    : m_environment(environment), m_parameters(parameters), m_temperature(parameters.baseK),
      m_lastMs(environment->nowMs())
{
    settle();
}

SimColdStage::Parameters SimColdStage::constant(double kelvin, double noiseK)
{
    Parameters p;
    p.baseK = p.idleK = p.heatedK = kelvin;
    p.driftK = 0;
    p.noiseK = noiseK;
    return p;
}

bool SimColdStage::configure(const QJsonObject& json, QString* error)
{
    Parameters p = m_parameters;
    const std::pair<const char*, double*> keys[] = {
        {"baseK", &p.baseK},
        {"idleK", &p.idleK},
        {"heatedK", &p.heatedK},
        {"tauOpenS", &p.tauOpenS},
        {"tauClosedS", &p.tauClosedS},
        {"driftK", &p.driftK},
        {"driftPeriodS", &p.driftPeriodS},
        {"noiseK", &p.noiseK},
    };
    for (auto it = json.begin(); it != json.end(); ++it) {
        double* target = nullptr;
        for (const auto& [name, field] : keys)
            if (it.key() == QLatin1String(name))
                target = field;
        if (!target) {
            *error = QStringLiteral("unknown stage key \"%1\"").arg(it.key());
            return false;
        }
        if (!it.value().isDouble() || !std::isfinite(it.value().toDouble())) {
            *error = QStringLiteral("stage key \"%1\" must be a number").arg(it.key());
            return false;
        }
        *target = it.value().toDouble();
    }
    if (p.baseK < 0 || p.idleK < 0 || p.heatedK < 0 || p.driftK < 0 || p.noiseK < 0) {
        *error = QStringLiteral("stage temperatures, drift and noise must not be negative");
        return false;
    }
    if (!(p.tauOpenS > 0) || !(p.tauClosedS > 0) || !(p.driftPeriodS > 0)) {
        *error = QStringLiteral("stage time constants and drift period must be positive");
        return false;
    }
    // The switch can only pull the stage below its plate if it conducts better than the
    // plate's own link.
    if (p.tauClosedS > p.tauOpenS || (p.tauClosedS == p.tauOpenS && p.baseK != p.idleK)) {
        *error = QStringLiteral("\"tauClosedS\" must be shorter than \"tauOpenS\"");
        return false;
    }
    m_parameters = p;
    settle();
    return true;
}

void SimColdStage::setHeater(bool on)
{
    advance();
    m_heater = on;
}

void SimColdStage::setSwitch(bool closed)
{
    advance();
    m_switch = closed;
}

void SimColdStage::settle()
{
    m_temperature = equilibrium();
    m_lastMs = m_environment->nowMs();
}

// Conductances in units of the stage's heat capacity (1/s): gl to the plate at idleK,
// gs through the closed switch to a bath chosen so that the stage rests at baseK; the
// heater's power makes the stage settle at heatedK with the switch open.
double SimColdStage::equilibrium() const
{
    const Parameters& p = m_parameters;
    const double gl = 1.0 / p.tauOpenS;
    const double gs = m_switch ? 1.0 / p.tauClosedS - gl : 0.0;
    if (gs <= 0)
        return m_heater ? p.heatedK : (m_switch ? p.baseK : p.idleK);
    const double bath = (p.baseK * (gs + gl) - gl * p.idleK) / gs;
    const double power = m_heater ? gl * (p.heatedK - p.idleK) : 0.0;
    return std::max(0.0, (power + gs * bath + gl * p.idleK) / (gl + gs));
}

double SimColdStage::timeConstant() const
{
    return m_switch ? m_parameters.tauClosedS : m_parameters.tauOpenS;
}

void SimColdStage::advance()
{
    const qint64 now = m_environment->nowMs();
    const double dt = (now - m_lastMs) / 1000.0;
    m_lastMs = now;
    if (dt <= 0)
        return;
    // The exact solution for a constant heater and switch, so the step length never matters.
    const double target = equilibrium();
    m_temperature = target + (m_temperature - target) * std::exp(-dt / timeConstant());
}

double SimColdStage::temperature()
{
    advance();
    return m_temperature;
}

double SimColdStage::reading()
{
    const double drift = m_parameters.driftK * std::sin(2.0 * M_PI * m_environment->nowSeconds() /
                                                        m_parameters.driftPeriodS);
    const double noise =
        m_parameters.noiseK > 0 ? m_environment->gaussian(0.0, m_parameters.noiseK) : 0.0;
    return std::max(0.0, temperature() + drift + noise);
}
