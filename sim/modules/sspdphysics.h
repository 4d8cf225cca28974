#pragma once
// The detector and read-out chain behind one simulated SSPD channel, shared by the model-0
// and model-1 modules: a nanowire that latches above its switching current and retraps below
// a much lower current, photon and dark counts that grow with bias, a comparator against the
// pulse heights and the amplifier noise, a gated counter and the auto-reset system.
//
// Every input takes effect at the environment's present time: the state up to that instant
// is accounted first, so the counter integrates its expected rate piecewise between changes
// and reports the Poisson draw of the last completed gate window.
#include <QJsonObject>
#include <QString>

class SimEnvironment;

class SspdPhysics
{
public:
    // The rack's "physics" keys of an SSPD module, in SI units (all numbers):
    //   switchingCurrent   A     the wire latches above it                     25e-6
    //   retrappingCurrent  A     a latched wire recovers below it              5e-6
    //   seriesResistance   ohm   leads and bias tee: the superconducting branch 50
    //   normalResistance   ohm   resistance of the latched (resistive) wire    60e3
    //   photonRate         1/s   photons reaching the detector                 1e4
    //   efficiency         0..1  detection efficiency on the plateau           0.8
    //   efficiencyCurrent  A     bias of half the plateau efficiency           15e-6
    //   efficiencyWidth    A     width of the efficiency sigmoid               1.5e-6
    //   darkRate           1/s   dark count rate at the switching current      1e4
    //   darkSlope          A     bias for an e-fold rise of the dark rate      0.6e-6
    //   pulseGain          V/A   mean pulse height at the comparator per bias  2e4
    //   pulseSpread        1     relative spread (sigma) of the pulse heights  0.1
    //   noiseFloor         V     rms amplifier noise at the comparator         2e-3
    //   noiseRate          1/s   noise crossings of a trigger at zero          5e7
    //   deadTime           s     counter dead time                             50e-9
    //   currentNoise       A     rms noise of a current reading                1e-9
    //   voltageNoise       V     rms noise of a voltage reading                20e-6
    // and for a module with an HF mode (model 1), in HF mode:
    //   hfDeadTime         s     shorter dead time of the fast read-out        10e-9
    //   hfNoiseFactor      1     noise rms multiplied by it                    1.5
    // When switchingCurrent is given, the current-valued keys that are not given scale with it.
    struct Parameters
    {
        double switchingCurrent = 25e-6;
        double retrappingCurrent = 5e-6;
        double seriesResistance = 50;
        double normalResistance = 60e3;
        double photonRate = 1e4;
        double efficiency = 0.8;
        double efficiencyCurrent = 15e-6;
        double efficiencyWidth = 1.5e-6;
        double darkRate = 1e4;
        double darkSlope = 0.6e-6;
        double pulseGain = 2e4;
        double pulseSpread = 0.1;
        double noiseFloor = 2e-3;
        double noiseRate = 5e7;
        double deadTime = 50e-9;
        double currentNoise = 1e-9;
        double voltageNoise = 20e-6;
        double hfDeadTime = 10e-9;
        double hfNoiseFactor = 1.5;
    };

    // The switches of the channel as the physics sees them; "comparator" means that pulses
    // reach the comparator and it is on (on model 0 that includes the RF key).
    struct Chain
    {
        bool shorted = true;
        bool amplifier = false;
        bool comparator = false;
        bool counter = false;
        bool hfMode = false;
    };

    SspdPhysics(SimEnvironment* environment, bool hasHfMode);

    // Unknown keys, values that are not finite numbers or out of range are an error; then
    // nothing changes.
    bool configure(const QJsonObject& physics, QString* error);
    const Parameters& parameters() const { return m_parameters; }

    // Power-on state: no bias, chain off and shorted, wire superconducting, counter empty.
    void reset();

    // Inputs, effective now. Values that are not finite count as zero.
    void setBias(double amperes); // the current the source drives
    void setChain(const Chain& chain);
    void setTrigger(double volts);
    void setTimeConstant(double seconds); // a new value restarts the gate window
    void setAutoReset(bool on, double thresholdVolts, double timeOutSeconds);
    void setAutoResetCount(quint32 count);

    // State as of now.
    double bias() const { return m_bias; }
    double detectorCurrent() const { return m_chain.shorted ? 0.0 : m_bias; }
    bool latched();
    double voltage(); // across the detector, noiseless
    double counts();  // counted in the last completed gate window
    quint32 autoResetCount();
    double countRate(); // expected counted rate in the present state, 1/s

    // Readings with their noise, as the module's ADCs see them.
    double measuredCurrent();
    double measuredDetectorCurrent();
    double measuredVoltage();

    // The model's terms for a bias (sign ignored) and a trigger level.
    double efficiency(double bias) const;
    double darkRate(double bias) const;
    double pulseFraction(double bias, double trigger) const; // pulses above the trigger
    double noiseRate(double trigger, bool hfMode) const;

private:
    double rateNow() const;
    void advance();
    void integrate(qint64 untilUs, double rate);
    void fireAutoReset(qint64 atUs);
    void updateLatch();
    void updateArming();
    qint64 nowUs() const;
    qint64 timeOutUs() const;

    SimEnvironment* m_environment;
    bool m_hasHfMode;
    Parameters m_parameters;

    double m_bias = 0;
    Chain m_chain;
    double m_trigger = 0;
    bool m_latched = false;

    // Gate window, microseconds on the environment's clock.
    qint64 m_windowUs = 100000;
    qint64 m_windowStartUs = 0;
    qint64 m_lastUs = 0;
    double m_expected = 0; // expected counts of the window so far
    double m_lastCounts = 0;

    bool m_autoResetOn = false;
    double m_autoResetThreshold = 0;
    double m_autoResetTimeOut = 0;
    quint32 m_autoResetCount = 0;
    bool m_armed = false;
    qint64 m_armedSinceUs = 0;
};
