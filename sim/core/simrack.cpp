#include "simrack.h"

#include "simmodulefactory.h"
#include "simunit.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace {

const QString DefaultModuleType = QStringLiteral("VX9SDM0");

QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

bool checkKeys(const QJsonObject& object, const QStringList& allowed, const QString& where,
               QString* error)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!allowed.contains(it.key())) {
            *error = QStringLiteral("%1: unknown key \"%2\" (known: %3)")
                         .arg(where, it.key(), allowed.join(QStringLiteral(", ")));
            return false;
        }
    }
    return true;
}

// A module text field: at most 24 bytes of UTF-8, the width the module sends.
bool readText(const QJsonObject& object, const QString& key, const QString& where, QString* value,
              QString* error)
{
    const QJsonValue v = object.value(key);
    if (v.isUndefined())
        return true;
    if (!v.isString()) {
        *error = QStringLiteral("%1: \"%2\" must be a string, not %3").arg(where, key, typeName(v));
        return false;
    }
    if (v.toString().toUtf8().size() > 24) {
        *error =
            QStringLiteral("%1: \"%2\" is longer than the 24 bytes a module sends").arg(where, key);
        return false;
    }
    *value = v.toString();
    return true;
}

std::optional<SimRackModule> readModule(const QJsonValue& value, const QString& where,
                                        QString* error)
{
    if (!value.isObject()) {
        *error = QStringLiteral("%1: must be an object, not %2").arg(where, typeName(value));
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    if (!checkKeys(object,
                   {"address", "type", "description", "firmware", "hardware", "modification",
                    "udid", "physics", "eeprom"},
                   where, error))
        return std::nullopt;

    const QJsonValue address = object.value("address");
    const double number = address.toDouble(-1);
    if (!address.isDouble() || number != int(number) || number < 0 || number > 254) {
        *error = QStringLiteral("%1: \"address\" must be a whole number from 0 to 254").arg(where);
        return std::nullopt;
    }
    const QJsonValue type = object.value("type");
    if (!type.isString() || type.toString().isEmpty()) {
        *error = QStringLiteral("%1: \"type\" must be a module type string such as \"%2\"")
                     .arg(where, DefaultModuleType);
        return std::nullopt;
    }
    if (!SimModuleFactory::isKnownType(type.toString())) {
        *error =
            QStringLiteral("%1: unknown module type \"%2\" (known: %3)")
                .arg(where, type.toString(), SimModuleFactory::types().join(QStringLiteral(", ")));
        return std::nullopt;
    }

    SimRackModule module;
    module.address = quint8(number);
    module.identity = SimModuleFactory::defaultIdentity(type.toString(), module.address);
    SimModule::Identity& id = module.identity;
    if (!readText(object, "type", where, &id.type, error) ||
        !readText(object, "description", where, &id.description, error) ||
        !readText(object, "firmware", where, &id.firmware, error) ||
        !readText(object, "hardware", where, &id.hardware, error) ||
        !readText(object, "modification", where, &id.modification, error))
        return std::nullopt;
    const QJsonValue udid = object.value("udid");
    if (!udid.isUndefined()) {
        bool ok = false;
        id.udid = cUDID::fromString(udid.toString(), &ok);
        if (!udid.isString() || !ok) {
            *error = QStringLiteral("%1: \"udid\" must be 24 hexadecimal digits, optionally in "
                                    "groups joined by \"-\"")
                         .arg(where);
            return std::nullopt;
        }
    }
    for (const char* key : {"physics", "eeprom"}) {
        const QJsonValue v = object.value(key);
        if (!v.isUndefined() && !v.isObject()) {
            *error =
                QStringLiteral("%1: \"%2\" must be an object, not %3").arg(where, key, typeName(v));
            return std::nullopt;
        }
    }
    module.physics = object.value("physics").toObject();
    module.eeprom = object.value("eeprom").toObject();
    return module;
}

bool readModuleList(const QJsonObject& root, const QString& key, QList<SimRackModule>* list,
                    QString* error)
{
    const QJsonValue value = root.value(key);
    if (value.isUndefined())
        return true;
    if (!value.isArray()) {
        *error = QStringLiteral("\"%1\" must be an array, not %2").arg(key, typeName(value));
        return false;
    }
    const QJsonArray array = value.toArray();
    QSet<int> addresses;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("%1[%2]").arg(key).arg(i);
        const auto module = readModule(array.at(i), where, error);
        if (!module)
            return false;
        if (addresses.contains(module->address)) {
            *error = QStringLiteral("%1: address %2 is used twice").arg(where).arg(module->address);
            return false;
        }
        addresses.insert(module->address);
        list->append(*module);
    }
    return true;
}

SimRackModule demoModule(quint8 address, const QString& type, const QString& description,
                         const QString& firmware, const QString& udid)
{
    SimRackModule module;
    module.address = address;
    module.identity = SimModuleFactory::defaultIdentity(type, address);
    module.identity.description = description;
    module.identity.firmware = firmware;
    module.identity.hardware = QStringLiteral("2");
    module.identity.modification = QStringLiteral("1");
    module.identity.udid = cUDID::fromString(udid);
    return module;
}

} // namespace

SimRack SimRack::demo()
{
    SimRack rack;
    rack.modules = {
        demoModule(1, "VX9SDM0", "SSPD channel A", "1.3.2", "5456-4B00-0001-0000-0000-0001"),
        demoModule(2, "VX9SDM0", "SSPD channel B", "1.3.2", "5456-4B00-0001-0000-0000-0002"),
        demoModule(3, "VX9SDM1", "SSPD channel HF", "2.0.1", "5456-4B00-0002-0000-0000-0003"),
        demoModule(4, "VX9TDM0", "Cold stage", "1.1.0", "5456-4B00-0003-0000-0000-0004"),
        demoModule(5, "VX9TDM1", "Cryocooler", "1.2.4", "5456-4B00-0004-0000-0000-0005"),
        demoModule(6, "VX9HTM0", "Heater", "1.0.3", "5456-4B00-0005-0000-0000-0006"),
    };
    return rack;
}

std::optional<SimRack> SimRack::load(const QString& path, QString* error)
{
    QString message;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    auto rack = fromJson(file.readAll(), &message);
    if (!rack)
        *error = QStringLiteral("%1: %2").arg(path, message);
    return rack;
}

std::optional<SimRack> SimRack::fromJson(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not valid JSON at byte %1: %2")
                     .arg(parseError.offset)
                     .arg(parseError.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("the rack must be a JSON object with \"modules\"");
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (!checkKeys(root, {"unit", "modules", "spares"}, QStringLiteral("rack"), error))
        return std::nullopt;

    SimRack rack;
    const QJsonValue unit = root.value("unit");
    if (!unit.isUndefined()) {
        if (!unit.isObject()) {
            *error = QStringLiteral("\"unit\" must be an object, not %1").arg(typeName(unit));
            return std::nullopt;
        }
        const QJsonObject options = unit.toObject();
        if (!checkKeys(options, {"oldUnit", "softwareVersion"}, QStringLiteral("unit"), error))
            return std::nullopt;
        const QJsonValue old = options.value("oldUnit");
        if (!old.isUndefined() && !old.isBool()) {
            *error = QStringLiteral("unit: \"oldUnit\" must be true or false");
            return std::nullopt;
        }
        rack.oldUnit = old.toBool(false);
        const QJsonValue version = options.value("softwareVersion");
        if (!version.isUndefined() && !version.isString()) {
            *error = QStringLiteral("unit: \"softwareVersion\" must be a string");
            return std::nullopt;
        }
        rack.softwareVersion = version.toString(rack.softwareVersion);
    }
    if (!root.contains("modules")) {
        *error = QStringLiteral("the rack has no \"modules\" array");
        return std::nullopt;
    }
    if (!readModuleList(root, "modules", &rack.modules, error) ||
        !readModuleList(root, "spares", &rack.spares, error))
        return std::nullopt;
    return rack;
}

SimModule* SimRack::build(const SimRackModule& description, const Maker& maker,
                          SimEnvironment* environment, QString* error)
{
    const QString where = QStringLiteral("module at address %1 (%2)")
                              .arg(description.address)
                              .arg(description.identity.type);
    SimModule* module =
        maker(description.identity.type, description.address, description.identity, environment);
    if (!module) {
        *error = QStringLiteral("%1: unknown module type").arg(where);
        return nullptr;
    }
    QString message;
    if (!module->configure(description.physics, &message)) {
        *error = QStringLiteral("%1: physics: %2").arg(where, message);
        delete module;
        return nullptr;
    }
    if (!description.eeprom.isEmpty() && !module->setEeprom(description.eeprom, &message)) {
        *error = QStringLiteral("%1: eeprom: %2").arg(where, message);
        delete module;
        return nullptr;
    }
    return module;
}

bool SimRack::install(SimUnit* unit, QString* error) const
{
    const Maker maker = [](const QString& type, quint8 address, const SimModule::Identity& identity,
                           SimEnvironment* environment) {
        return SimModuleFactory::create(type, address, identity, environment);
    };
    return install(unit, maker, error);
}

bool SimRack::install(SimUnit* unit, const Maker& maker, QString* error) const
{
    // Build everything first, so that a faulty module leaves the unit as it was.
    QList<SimModule*> built;
    for (const SimRackModule& description : modules) {
        SimModule* module = build(description, maker, unit->environment(), error);
        if (!module) {
            qDeleteAll(built);
            return false;
        }
        built.append(module);
    }
    // Spares are built once to check them, so that a bad spare is found at start.
    for (const SimRackModule& description : spares) {
        SimModule* module = build(description, maker, unit->environment(), error);
        if (!module) {
            qDeleteAll(built);
            return false;
        }
        delete module;
    }

    for (SimModule* module : unit->modules())
        unit->removeModule(module->address());
    for (SimModule* module : built)
        unit->addModule(module);
    unit->setOldUnit(oldUnit);
    unit->setSoftwareVersion(softwareVersion);

    const QList<SimRackModule> known = modules + spares;
    unit->setModuleMaker([known, maker, unit](quint8 address) -> SimModule* {
        QString ignored;
        for (const SimRackModule& description : known) {
            if (description.address == address)
                return build(description, maker, unit->environment(), &ignored);
        }
        SimRackModule fresh;
        fresh.address = address;
        fresh.identity = SimModuleFactory::defaultIdentity(DefaultModuleType, address);
        return build(fresh, maker, unit->environment(), &ignored);
    });
    return true;
}
