#include "simsisline.h"

#include "simheater.h"

namespace {

using simfields::Field;
enum Structure { Data, ExtraFlag, Eeprom };
using E = VX9CLM0V0_EEPROM_Const_t;

const Field Fields[] = {
    {16, Field::None, Data, 0, sizeof(VX9CLM0V0_Data_t)},
    {17, 18, Data, offsetof(VX9CLM0V0_Data_t, floatValue), 4},
    {19, 20, Data, offsetof(VX9CLM0V0_Data_t, flag), 1, true},
    {21, 22, ExtraFlag, 0, 1, true},
    {23, 24, Eeprom, 0, sizeof(E)},
    {25, 26, Eeprom, offsetof(E, pair0), 8},
    {27, 28, Eeprom, offsetof(E, pair1), 8},
    {29, 30, Eeprom, offsetof(E, pair2), 8},
    {31, 32, Eeprom, offsetof(E, const0), 4},
};

E defaultConstants()
{
    E c{};
    c.pair0 = c.pair1 = c.pair2 = {1.0f, 0.0f};
    c.const0 = 0.05f; // coil current limit, A
    return c;
}

} // namespace

SimSisLine::SimSisLine(quint8 address, const SimModule::Identity& identity,
                       SimEnvironment* environment, QObject* parent)
    : SimModule(address, identity, environment, parent), m_stored(defaultConstants())
{
    connect(this, &SimModule::eepromStored, this, [this] { m_stored = m_constants; });
    reset();
}

void SimSisLine::reset()
{
    m_data = {};
    m_data.floatValue = 0.0f;
    m_extraFlag = false;
    m_constants = m_stored;
}

bool SimSisLine::configure(const QJsonObject& physics, QString* error)
{
    if (physics.isEmpty())
        return true;
    *error = QStringLiteral("unknown SIS control line key \"%1\"").arg(physics.begin().key());
    return false;
}

QJsonObject SimSisLine::eeprom() const
{
    return {{"constants", cuToJson(m_stored)}};
}

bool SimSisLine::setEeprom(const QJsonObject& eeprom, QString* error)
{
    E constants = m_stored;
    for (auto it = eeprom.begin(); it != eeprom.end(); ++it) {
        if (it.key() != QLatin1String("constants")) {
            *error = QStringLiteral("unknown EEPROM key \"%1\"").arg(it.key());
            return false;
        }
        if (!cuMergeJson(it.value(), &constants, QStringLiteral("SIS line constants"), error))
            return false;
    }
    m_constants = m_stored = constants;
    return true;
}

std::optional<QList<SimModule::Answer>> SimSisLine::handleOwn(quint8 command,
                                                              const QByteArray& data)
{
    char* const structures[] = {reinterpret_cast<char*>(&m_data),
                                reinterpret_cast<char*>(&m_extraFlag),
                                reinterpret_cast<char*>(&m_constants)};
    return simfields::serve(command, data, Fields, structures);
}
