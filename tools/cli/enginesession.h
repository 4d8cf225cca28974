#pragma once
// The measurement engine as cu-tavik-cli drives it: the screen's own front object and
// worker thread, without a screen. It connects with the worker's connect command (the
// address the application stored stays as it was), relays the engine's errors and notices
// to standard error, and waits for queued commands to end without busy waiting.
#include "engine/workerasync.h"
#include "link/cutcpsocketiointerface.h"
#include "link/unitports.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QVariant>
#include <functional>

class InterruptWatcher;

class EngineSession : public QObject
{
public:
    struct Target
    {
        QString unitText;
        quint16 port = UnitPorts::Unit;
        int answerTimeoutMs = cuTcpSocketIOInterface::QueryTimeoutMs;
    };

    // How one queued command ended, as the worker reported it.
    struct Outcome
    {
        int command;
        QVariant parameter;
        bool ok;
    };

    EngineSession(const Target& target, InterruptWatcher* interrupts, QObject* parent = nullptr);
    // Stops the worker thread.
    ~EngineSession() override;

    WorkerAsync* worker() const { return m_worker; }
    QString unitDescription() const;

    // Connects and takes the inventory; false (with the reason printed) when the unit
    // cannot be reached or its module list cannot be read.
    bool connectToUnit();
    // The inventory's module list object ("count", "info", "software_version").
    QJsonObject moduleList() const { return m_moduleList; }
    // The module's entry of "info"; empty when the unit has no module at that address.
    QJsonObject moduleInfo(int address) const;
    // The device list's type code of the module (DataProviderList::DeviceType), -1 when
    // the unit has no module at that address.
    int moduleType(int address) const;
    // Connects and makes sure that channel is an SSPD module (model 0 or 1); false with the
    // reason printed otherwise. Commands that drive one detector start here.
    bool connectToSspdChannel(int channel);
    QList<int> addressesOfTypes(const QList<int>& types) const;

    // Runs queue(), which queues one or more commands, and waits until the first command
    // numbered `command` queued by it has run; that command's success. False also when the
    // user interrupts the wait.
    bool runQueued(int command, const std::function<void()>& queue);
    bool run(WorkerAsync::WorkerCommands command, const QVariant& parameter);
    // activateMode() and the wait for its mode command.
    bool activate(WorkerAsync::WorkerMode mode);
    // The outcomes reported after the first `from` ones (see outcomeCount()).
    QList<Outcome> outcomesSince(int from) const { return m_outcomes.mid(from); }
    int outcomeCount() const { return int(m_outcomes.size()); }

    // Lets the main thread's events run until done() holds or the user interrupts;
    // done()'s value at the end.
    bool waitUntil(const std::function<bool()>& done);
    bool interrupted() const;
    // Errors the engine reported so far (sendErrorMessage).
    int errorCount() const { return m_errors; }

private:
    Target m_target;
    InterruptWatcher* m_interrupts;
    WorkerAsync* m_worker;
    QJsonObject m_moduleList;
    bool m_listReceived = false;
    QList<Outcome> m_outcomes;
    int m_errors = 0;
};
