#include "simmodulefactory.h"

#include "modules/simheater.h"
#include "modules/simsisbias.h"
#include "modules/simsisline.h"
#include "modules/simsspdm0.h"
#include "modules/simsspdm1.h"
#include "modules/simtempm0.h"
#include "modules/simtempm1.h"

#include <QCryptographicHash>

namespace {

struct Kind
{
    const char* type;
    const char* description;
    SimModule* (*make)(quint8, const SimModule::Identity&, SimEnvironment*, QObject*);
};

template <typename T>
SimModule* make(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
                QObject* parent)
{
    return new T(address, identity, environment, parent);
}

constexpr Kind Kinds[] = {
    {"VX9SDM0", "SSPD driver", &make<SimSspdM0>},
    {"VX9SDM1", "SSPD driver HF", &make<SimSspdM1>},
    {"VX9TDM0", "Temperature driver", &make<SimTempM0>},
    {"VX9TDM1", "Temperature driver 4ch", &make<SimTempM1>},
    {"VX9HTM0", "Heater", &make<SimHeater>},
    {"VX9BSM0", "SIS bias source", &make<SimSisBias>},
    {"VX9CLM0", "SIS control line", &make<SimSisLine>},
};

const Kind* kindOf(const QString& type)
{
    for (const Kind& kind : Kinds) {
        if (type == QLatin1String(kind.type))
            return &kind;
    }
    return nullptr;
}

} // namespace

QStringList SimModuleFactory::types()
{
    QStringList list;
    for (const Kind& kind : Kinds)
        list << QString::fromLatin1(kind.type);
    return list;
}

bool SimModuleFactory::isKnownType(const QString& type)
{
    return kindOf(type) != nullptr;
}

SimModule::Identity SimModuleFactory::defaultIdentity(const QString& type, quint8 address)
{
    SimModule::Identity identity;
    identity.type = type;
    identity.modification = QStringLiteral("0");
    identity.hardware = QStringLiteral("1");
    identity.firmware = QStringLiteral("1.0.0");
    const Kind* kind = kindOf(type);
    identity.description = kind ? QString::fromLatin1(kind->description) : type;
    const QByteArray hash = QCryptographicHash::hash(
        type.toLatin1() + '/' + QByteArray::number(address), QCryptographicHash::Sha256);
    std::array<quint8, cUDID::Size> bytes{};
    for (int i = 0; i < cUDID::Size; ++i)
        bytes[size_t(i)] = quint8(hash.at(i));
    identity.udid = cUDID(bytes);
    return identity;
}

SimModule* SimModuleFactory::create(const QString& type, quint8 address,
                                    const SimModule::Identity& identity,
                                    SimEnvironment* environment, QObject* parent)
{
    const Kind* kind = kindOf(type);
    return kind ? kind->make(address, identity, environment, parent) : nullptr;
}
