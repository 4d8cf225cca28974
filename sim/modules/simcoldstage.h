#pragma once
// A thermal node of a cryostat (cold stage, sorption pump, plate) as a first-order system:
// it relaxes exponentially toward the temperature set by its heater and its heat switch.
// Time comes from the environment's clock, so a test moves it by advancing a manual clock.
#include <QJsonObject>
#include <QString>

class SimEnvironment;

class SimColdStage
{
public:
    // Configuration keys of a stage (all numbers, all optional):
    //   "baseK"        where the stage settles with the heat switch closed, heater off
    //   "idleK"        where it settles with switch open and heater off (the plate it hangs on)
    //   "heatedK"      where it settles with the heater on and the switch open
    //   "tauOpenS"     time constant with the switch open, seconds
    //   "tauClosedS"   time constant with the switch closed, seconds (not above tauOpenS)
    //   "driftK"       amplitude of a slow sinusoidal drift of the reading
    //   "driftPeriodS" period of that drift, seconds
    //   "noiseK"       standard deviation of the noise of one reading
    struct Parameters
    {
        double baseK = 2.2;
        double idleK = 4.2;
        double heatedK = 40.0;
        double tauOpenS = 60.0;
        double tauClosedS = 20.0;
        double driftK = 0.005;
        double driftPeriodS = 900.0;
        double noiseK = 0.0005;
    };

    explicit SimColdStage(SimEnvironment* environment);
    SimColdStage(SimEnvironment* environment, const Parameters& parameters);

    // Applies the keys present in json over the current parameters; an unknown key or a
    // value out of range is an error and changes nothing. The stage restarts at rest.
    bool configure(const QJsonObject& json, QString* error);
    const Parameters& parameters() const { return m_parameters; }

    // A stage always at one temperature, whatever its heater and switch do.
    static Parameters constant(double kelvin, double noiseK);

    // Heater and heat switch; the stage integrates up to now before the change.
    void setHeater(bool on);
    void setSwitch(bool closed);
    bool heater() const { return m_heater; }
    bool switchClosed() const { return m_switch; }

    // Back to the equilibrium of the current heater and switch.
    void settle();

    // The stage's own temperature now, without drift or noise.
    double temperature();
    // One sensor reading: temperature with drift and noise.
    double reading();
    // Where the stage goes with the current heater and switch, and how fast (seconds).
    double equilibrium() const;
    double timeConstant() const;

private:
    void advance();

    SimEnvironment* m_environment;
    Parameters m_parameters;
    bool m_heater = false;
    bool m_switch = true;
    double m_temperature;
    qint64 m_lastMs;
};
