#pragma once
// One relay of a model-1 temperature module in its own logical sense: switch and read it,
// switch it off for a while and back on by itself, pulse it off periodically, and check
// that it stays where it was put.
#include <QObject>
#include <QPointer>

class QTimer;
class TempDriverM1;

class AdvancedRelayControl : public QObject
{
    Q_OBJECT
public:
    enum State : quint32 {
        StateIdle = 0,
        StateCycleArmed = 1,
        StateTemporarilyOff = 2,
    };

    static constexpr int DefaultToggleBackIntervalMs = 10000;
    static constexpr int DefaultMinimumCyclePeriodMs = 500;
    static constexpr qint32 MismatchAllowance = 5;
    static constexpr qint32 MismatchAllowanceAfterStop = 2;
    static constexpr int RelayTries = 5;

    // mask selects the relay (1 = relay 0, 2 = relay 1). The relay is physically on when
    // the requested logical state equals polarity. Reads the relay once to learn where
    // it stands.
    AdvancedRelayControl(TempDriverM1* driver, quint32 mask, bool polarity,
                         QObject* parent = nullptr);
    // Leaves the relay logically on and disarms everything.
    ~AdvancedRelayControl() override;

    // Off-pulses of offTime ms, the first after max(period, minimum) ms and then one
    // every offTime + max(period, minimum) ms; replaces a running cycle.
    void startCycle(quint32 period, quint32 offTime, bool singleShot);
    // Time left until the next cycle pulse (cycle armed) or the toggle-back (temporarily
    // off), in ms; 0 otherwise.
    int remainingTime() const;

    bool enabled() const { return m_enabled; }
    bool lastPhysical() const { return m_lastPhysical; }
    void setLastPhysical(bool on) { m_lastPhysical = on; }
    quint32 state() const { return m_state; }
    void setState(quint32 state) { m_state = state; }
    quint32 mask() const { return m_mask; }
    bool polarity() const { return m_polarity; }

    // Length of a temporary off period asked for with 0 ms.
    int toggleBackInterval() const;
    void setToggleBackInterval(int ms);
    // Shortest on time between the pulses of a cycle.
    int minimumCyclePeriod() const { return m_minimumCyclePeriod; }
    void setMinimumCyclePeriod(int ms) { m_minimumCyclePeriod = qMax(ms, 0); }

signals:
    // A temporary off period ended and the relay was switched back on.
    void processFinished();

public slots:
    // Reads the relay and compares it with the requested state. A few mismatches in a row
    // are tolerated (a relay read can fail now and then); false once they are used up.
    bool checkState();
    void setRelay(bool enable);
    // True when the module reports the relay physically on; false also without an answer.
    bool getRelayState();
    // Switches off now and back on after timeBeforeToggleback ms (0: the toggle-back
    // interval).
    void temporarySetRelayOff(uint32_t timeBeforeToggleback);
    void temporarySetRelayOff();
    // Stops cycle and toggle-back, switches the relay on.
    void stop();

private:
    bool readRelay(bool* answered);
    void toggleBack();
    void cycleStep();

    QPointer<TempDriverM1> m_driver;
    quint32 m_state = StateIdle;
    bool m_polarity;
    bool m_enabled = false;
    bool m_lastPhysical = false;
    qint32 m_mismatchAllowance = MismatchAllowance;
    quint32 m_mask;
    QTimer* m_cycleTimer;
    QTimer* m_toggleBackTimer;
    quint32 m_cyclePeriod = 0;
    quint32 m_cycleOffTime = 0;
    int m_minimumCyclePeriod = DefaultMinimumCyclePeriodMs;
    // Counts stop() calls, so that a step interrupted by a stop while it waited for the
    // bus does not arm or announce anything afterwards.
    quint64 m_stops = 0;
};
