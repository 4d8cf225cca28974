#pragma once
// What is plugged into the simulated unit: the modules with their identities, physics and
// EEPROM contents, spare modules for "SYST:DEVL:ADD", and the unit's own options. Read from
// a JSON rack file, or the built-in demo rack.
#include "simmodule.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class SimUnit;

struct SimRackModule
{
    quint8 address = 0;
    SimModule::Identity identity; // identity.type is the module type string
    QJsonObject physics;          // handed to SimModule::configure
    QJsonObject eeprom;           // handed to SimModule::setEeprom (empty: module defaults)
};

struct SimRack
{
    bool oldUnit = false;
    QString softwareVersion = QStringLiteral("1.4.0");
    QList<SimRackModule> modules;
    // Not plugged in at start; "SYST:DEVL:ADD n" plugs the spare for address n.
    QList<SimRackModule> spares;

    // Builds a module from its type (null for an unknown type).
    using Maker =
        std::function<SimModule*(const QString& type, quint8 address,
                                 const SimModule::Identity& identity, SimEnvironment* environment)>;

    // Two SSPD model 0, one SSPD model 1, one temperature model 0 and model 1, one heater.
    static SimRack demo();
    // A rack file; nullopt with a message naming the file and the faulty entry.
    static std::optional<SimRack> load(const QString& path, QString* error);
    static std::optional<SimRack> fromJson(const QByteArray& json, QString* error);

    // Sets the unit's options and plugs every module in (replacing those the unit had);
    // the unit's "SYST:DEVL:ADD" then takes modules and spares of this rack by address,
    // and a default module (SSPD model 0) for any other address. False with a message if a
    // module cannot be built or refuses its physics or EEPROM.
    bool install(SimUnit* unit, const Maker& maker, QString* error) const;
    // The same with the simulator's own module models (SimModuleFactory).
    bool install(SimUnit* unit, QString* error) const;
    // One module as described; null with a message.
    static SimModule* build(const SimRackModule& description, const Maker& maker,
                            SimEnvironment* environment, QString* error);
};
