#pragma once
// The recycle procedure of a cryocooler driven by the two relays of a model-1 temperature
// module: shorts every SSPD channel, heats, thermalizes and cools down on timers, then
// gives the channels their short switches back, announcing each step.
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

class AdvancedRelayControl;
class CommonDriver;
class QTimer;
class TempDriverM1;

class TemperatureRecycleInterface : public QObject
{
    Q_OBJECT
public:
    enum TemperatureRecycleState : quint32 {
        Idle = 0,
        SavingParams = 1,
        SetupSspd = 2,
        StartingRecycle = 3,
        Heating = 4,
        Thermalization = 5,
        CoolingDown = 6,
        FinishRecycling = 7,
        ProcessAborted = 8,
    };
    Q_ENUM(TemperatureRecycleState)

    // What a channel looked like before the procedure shorted it.
    struct SavedChannel
    {
        double current = 0.0;
        bool shorted = true;
    };

    static constexpr quint32 ProgressScale = 10000;
    static constexpr int DefaultProgressIntervalMs = 200;
    static constexpr int ChannelTries = 5;

    // Text shown for a state; empty for Idle and for values outside the enumeration.
    static QString stateText(TemperatureRecycleState state);

    // sspdDrivers is not owned and is read at every step; entries other than SSPD drivers
    // of model 0 or 1 are passed over.
    TemperatureRecycleInterface(TempDriverM1* relayDriver, const QList<CommonDriver*>* sspdDrivers,
                                QObject* parent = nullptr);
    ~TemperatureRecycleInterface() override;

    // Phase lengths in ms. Refused (false, nothing done) while a procedure runs, without a
    // relay module, with no heating time, or with times a timer cannot hold.
    bool startRecycle(quint32 heatingTime, quint32 thermalizationTime, quint32 coolingTime);
    // Ends a running procedure at once: relays back to rest, channels restored.
    void abort();

    // Time left in the current phase, ms.
    quint32 remainingTime() const;
    // Relay 0 for which = 1, relay 1 for which = 2; false for anything else.
    bool relayState(int which);
    bool lastRelayState(int which) const;
    // Both relays where they should be (within their mismatch allowance).
    bool checkRelays();

    TemperatureRecycleState currentState() const { return m_currentState; }
    quint32 progressValue() const { return m_progressValue; }
    quint32 progressScale() const { return m_progressScale; }
    quint32 heatingTime() const { return m_heatingTime; }
    quint32 thermalizationTime() const { return m_thermalizationTime; }
    quint32 coolingTime() const { return m_coolingTime; }
    QMap<CommonDriver*, SavedChannel> savedParams() const { return m_savedParams; }

    int progressInterval() const;
    void setProgressInterval(int ms);

signals:
    void stateChanged(TemperatureRecycleState state);
    // Share of the procedure done, in units of 1/progressScale.
    void progress(uint32_t value);

public slots:
    void restoreSSPDParams();
    void startWaitCoolingDown();
    // Emits the progress and returns it in percent.
    uint8_t reportProgress();

private:
    void saveChannels();
    void shortChannels();
    void endHeating();
    void endThermalization();

    QTimer* m_progressTimer;
    QTimer* m_coolingTimer;
    quint32 m_progressValue = 0;
    TemperatureRecycleState m_currentState = Idle;
    const quint32 m_progressScale = ProgressScale;
    quint32 m_heatingTime = 0;
    quint32 m_thermalizationTime = 0;
    quint32 m_coolingTime = 0;
    AdvancedRelayControl* m_relay1Control;
    AdvancedRelayControl* m_relay0Control;
    QPointer<TempDriverM1> m_relayDriver;
    const QList<CommonDriver*>* m_sspdDrivers;
    QMap<CommonDriver*, SavedChannel> m_savedParams;
    QElapsedTimer m_procedureClock;
    bool m_coolingDue = false;
    // Counts procedure ends, so that a start interrupted by an abort delivered while it
    // waited for the bus does not carry on.
    quint64 m_procedureEnds = 0;
};
