#pragma once
// The simulated control unit: a TCP server that speaks the unit's text commands and routes
// module packets by bus address to the module models plugged into it, with faults on demand.
#include "link/unitports.h"
#include "simfaults.h"

#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>

class QTcpServer;
class QTcpSocket;
class SimEnvironment;
class SimFirmwareUpdate;
class SimModule;
struct SimClient;

class SimUnit : public QObject
{
    Q_OBJECT
public:
    // Builds the module that "SYST:DEVL:ADD n" plugs in at address n (null: none).
    using ModuleMaker = std::function<SimModule*(quint8 address)>;

    explicit SimUnit(SimEnvironment* environment, QObject* parent = nullptr);
    ~SimUnit() override;

    SimEnvironment* environment() const { return m_environment; }

    // Where to listen; take effect at the next start().
    void setListenAddress(const QHostAddress& address) { m_listenAddress = address; }
    QHostAddress listenAddress() const { return m_listenAddress; }
    void setPort(quint16 port) { m_port = port; } // 0: any free port
    // Powers the unit on: listens for clients. A unit powered off by "SYST:POFF" comes back
    // here, with its modules reset.
    bool start(QString* error = nullptr);
    // Closes every connection and stops listening.
    void stop();
    bool isListening() const;
    quint16 serverPort() const;
    int connectionCount() const { return int(m_clients.size()); }

    // Modules are owned by the unit. addModule refuses an address that is taken.
    bool addModule(SimModule* module);
    bool removeModule(quint8 address);
    SimModule* module(quint8 address) const { return m_modules.value(address); }
    QList<SimModule*> modules() const { return m_modules.values(); } // by address
    void setModuleMaker(ModuleMaker maker) { m_moduleMaker = std::move(maker); }

    // An old unit knows only the legacy module list ("SYST:DEVL?").
    void setOldUnit(bool old) { m_oldUnit = old; }
    bool isOldUnit() const { return m_oldUnit; }
    void setSoftwareVersion(const QString& version) { m_softwareVersion = version; }
    QString softwareVersion() const { return m_softwareVersion; }

    void setFaults(const SimFaults& faults) { m_faults = faults; }
    const SimFaults& faults() const { return m_faults; }
    // One log line per packet.
    void setVerbose(bool verbose) { m_verbose = verbose; }
    // The port of the client's firmware file server that "SYST:UPDT" connects to.
    void setFirmwareUpdatePort(quint16 port) { m_firmwareUpdatePort = port; }
    bool isLocked() const { return m_locked; }

    // Answers one text command as the unit does (without the line end); used by the
    // connections and open to in-process callers.
    QByteArray textCommand(const QByteArray& line, const QHostAddress& client = {});

signals:
    // "SYST:POFF": every connection is closed and the unit no longer listens.
    void poweredOff();
    // "SYST:DEVL:SAVE": the module list is to be kept across a restart.
    void moduleListSaved();
    // A module stored its EEPROM (common command 12), or got new firmware.
    void moduleStateStored(quint8 address);

private:
    void onNewConnection();
    void onReadyRead(SimClient* client);
    void onDisconnected(SimClient* client);
    void handlePacket(SimClient* client, quint8 address, quint8 command, const QByteArray& data);
    void deliver(SimClient* client, const QByteArray& bytes, bool closeAfter);
    void powerOff();
    void resetModules();
    void startFirmwareUpdate(const QHostAddress& client, SimModule* module);
    bool updateRunningFor(quint8 address) const;

    QByteArray addCommand(const QString& argument);
    QByteArray removeCommand(const QString& argument);
    QByteArray lockCommand(const QString& argument);
    QByteArray updateCommand(const QString& argument, const QHostAddress& client);

    SimEnvironment* m_environment;
    QTcpServer* m_server;
    QHostAddress m_listenAddress{QHostAddress::LocalHost};
    quint16 m_port = UnitPorts::Unit;
    QList<SimClient*> m_clients;
    int m_nextClientId = 1;
    QMap<quint8, SimModule*> m_modules;
    ModuleMaker m_moduleMaker;
    bool m_oldUnit = false;
    QString m_softwareVersion = QStringLiteral("1.4.0");
    SimFaults m_faults;
    quint64 m_moduleAnswers = 0;
    bool m_verbose = false;
    bool m_locked = false;
    bool m_poweredOff = false;
    quint16 m_firmwareUpdatePort = UnitPorts::FileServer;
    QPointer<SimFirmwareUpdate> m_update;
    quint8 m_updateAddress = 0;
    // Modules that took new firmware and wait to be added again ("SYST:DEVL:ADD").
    QSet<quint8> m_reflashed;
};
