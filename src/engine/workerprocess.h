#pragma once
// The engine's worker: lives on its own thread, owns the link to the unit and the module
// drivers, runs queued commands, the monitoring steps and the sweeps, and reports back by
// queued signals only. Other threads call addCommand() and nothing else.
#include "engine/workerasync.h"
#include "link/cutcpsocketiointerface.h"
#include "link/unitports.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QVariant>
#include <QVariantMap>
#include <atomic>

class AbstractDriver;
class DetectorCharacterisation;
class DriverHelper;
class QTimer;
class SweepParameters;

// As queued: the number may name no command (see WorkerAsync::WorkerCommands).
struct CommandEntry
{
    int command = 0;
    QVariant parameter;
};

class WorkerProcess : public QObject
{
    Q_OBJECT
public:
    // A sweep or histogram whose channel failed this many readings in a row has lost its
    // unit (gone silent, or its connection dropped): the measurement ends.
    static constexpr int UnitLostAfterFailedReadings = 3;

    explicit WorkerProcess(QObject* parent = nullptr);
    ~WorkerProcess() override;

    // Thread-safe: queues one command and wakes the worker loop.
    void addCommand(int command, const QVariant& parameter);

    // Port of the unit for the next connection (UnitPorts::Unit; tools may point at a
    // simulator elsewhere). Set before the thread starts, or at least before the connect
    // command is queued: the queue's mutex then hands the value to the worker thread.
    void setUnitPort(quint16 port) { m_unitPort = port; }
    // How long every answer of the unit or a module may take (text queries and each try of a
    // module read or write), for the connections and drivers made after it is set; the same
    // hand-over rule as for the port. Values below 1 ms are taken as 1 ms.
    void setAnswerTimeoutMs(int ms) { m_answerTimeoutMs = qMax(1, ms); }
    int answerTimeoutMs() const { return m_answerTimeoutMs; }

    // Worker thread only.
    bool executeCommand();
    bool readingLoop();
    void connectToUnit(const QString& address);
    bool updateDeviceList(cuTcpSocketIOInterface* transport);
    bool sendSystemCommand(const QString& command);
    AbstractDriver* driverByAddress(int address) const;
    bool readChannel(AbstractDriver* driver, int timeConstantMs);

    WorkerAsync::WorkerMode mode() const { return m_mode; }
    int timeConstant() const { return m_timeConstant; }
    QList<int> activeChannels() const { return m_activeChannels; }
    QList<AbstractDriver*> drivers() const { return m_drivers; }
    cuTcpSocketIOInterface* transport() const { return m_transport; }
    QVariantMap sweepParameters() const { return m_sweepParameters; }
    // The characterisation of one SSPD channel; any thread may start and cancel it. While
    // it runs, the loop steps it and nothing else.
    DetectorCharacterisation* characterisation() const { return m_characterisation; }

    // Passes the main loop has made so far; any thread may read it (an idle loop makes
    // only a few passes a second).
    quint64 loopPasses() const { return m_loopPasses.load(std::memory_order_relaxed); }

public slots:
    // The thread's main loop; returns when the thread is asked to stop.
    void runProcess();

signals:
    void finished();
    void connected();
    void deviceListUpdated(QJsonObject list);
    void dataReady(int address, QHash<QString, QVariant> data);
    void eepromDataReady(int address, QVariantMap data);
    void eepromUpdated();
    void updatePlot();
    void setStatusText(QString text);
    void sweepProgress(double percent);
    void sweepFinished();
    void sendErrorMessage(QString title, QString error);
    void sendMessage(QString title, QString message);
    // After each queued command has run: ok is false when it failed or did nothing (a
    // parameter that does not convert, a module that is not in the inventory, a unit or
    // module that refused or did not answer, a sweep that could not start). An EEPROM read
    // is ok once the module was asked; its map shows which constants came back. Tools that
    // queue a command learn from it when and how it ended.
    void commandExecuted(int command, QVariant parameter, bool ok);
    // A sweep or histogram was ended because the unit stopped answering; reason is the
    // status text that says so. sweepFinished() follows.
    void measurementLost(QString reason);
    // The connection to the unit at address closed while connected; the worker idles with
    // no modules until the next connect command.
    void connectionLost(QString address);

private:
    // Main loop
    bool commandsPending();
    // The thread is asked to stop, or, while an inventory is taken, to connect anew: waits
    // for modules are then given up (see AbstractDriver::setGiveUp).
    bool stopRequested();
    int msUntilNextStep() const;
    void waitForWork();

    // Inventory
    void destroyTransport();
    void endLostConnection();
    void destroyDrivers();
    AbstractDriver* createDriver(const QString& type);
    QJsonObject legacyModuleList(const QString& answer, cuTcpSocketIOInterface* transport);
    QJsonObject jsonModuleList(const QString& answer, cuTcpSocketIOInterface* transport);

    // Commands
    bool performCommand(const CommandEntry& entry, bool* ok);
    bool setMode(WorkerAsync::WorkerMode mode);
    bool changeModuleList(int address, bool add);

    // Monitoring and sweeps
    void readAllChannels();
    void monitorStep();
    void sweepStep();
    bool failChannel(AbstractDriver* driver);
    bool sweepCanStart(const SweepParameters& parameters, const QString& swept);
    bool refuseSweep(const QString& problem);
    bool applySweepTimeConstant(DriverHelper& helper, const SweepParameters& parameters);
    bool startCpsSweep(bool triggerSweep);
    bool startIvSweep();
    bool startHistogram();
    AbstractDriver* sweepDriver() const;
    void endSweep();
    bool unitLost(bool answered);
    void endLostMeasurement();

    // Members below may grow with the implementation; the above is the engine's contract.
    QVariantMap m_sweepParameters;
    QList<AbstractDriver*> m_drivers;
    cuTcpSocketIOInterface* m_transport = nullptr;
    bool m_connectionLost = false;
    QMutex m_commandMutex;
    QList<CommandEntry> m_commands;
    QElapsedTimer m_stepTimer;
    WorkerAsync::WorkerMode m_mode = WorkerAsync::WorkerModeNoAction;
    QList<int> m_activeChannels;
    QHash<QString, QVariant> m_lastData;
    int m_timeConstant = 0;
    // An inventory is being taken: a queued connect gives it up.
    bool m_takingInventory = false;
    // Readings of the measured channel that failed in a row.
    int m_failedReadings = 0;
    quint16 m_unitPort = UnitPorts::Unit;
    int m_answerTimeoutMs = cuTcpSocketIOInterface::QueryTimeoutMs;
    // Wakes the loop when the next step is due.
    QTimer* m_stepWake = nullptr;
    std::atomic<quint64> m_loopPasses{0};
    DetectorCharacterisation* m_characterisation = nullptr;
};
