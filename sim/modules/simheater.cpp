#include "simheater.h"

namespace {

using simfields::Field;
enum Structure { Data, Eeprom };

const Field Fields[] = {
    {16, Field::None, Data, 0, sizeof(VX9HTM0V0_Data_t)},
    {17, 18, Data, offsetof(VX9HTM0V0_Data_t, floatValue), 4},
    {19, 20, Data, offsetof(VX9HTM0V0_Data_t, byte0), 1},
    {21, 22, Data, offsetof(VX9HTM0V0_Data_t, byte1), 1},
    {23, 24, Eeprom, 0, sizeof(VX9HT0V0_EEPROM_Const_t)},
    {25, 26, Eeprom, offsetof(VX9HT0V0_EEPROM_Const_t, const0), 4},
    {27, 28, Eeprom, offsetof(VX9HT0V0_EEPROM_Const_t, const1), 4},
    {29, 30, Eeprom, offsetof(VX9HT0V0_EEPROM_Const_t, const2), 4},
    {31, 32, Eeprom, offsetof(VX9HT0V0_EEPROM_Const_t, const3), 4},
    {33, 34, Eeprom, offsetof(VX9HT0V0_EEPROM_Const_t, pair0), 8},
    {35, 36, Eeprom, offsetof(VX9HT0V0_EEPROM_Const_t, pair1), 8},
};

constexpr quint8 Command13 = 13;
constexpr quint8 Command14 = 14;

VX9HT0V0_EEPROM_Const_t defaultConstants()
{
    VX9HT0V0_EEPROM_Const_t c{};
    c.pair0 = {1.0f, 0.0f};
    c.pair1 = {1.0f, 0.0f};
    c.const0 = 100.0f; // heater resistance, ohm
    c.const1 = 0.1f;   // current limit, A
    c.const2 = 10.0f;  // voltage limit, V
    c.const3 = 0.0f;
    return c;
}

} // namespace

SimHeater::SimHeater(quint8 address, const SimModule::Identity& identity,
                     SimEnvironment* environment, QObject* parent)
    : SimModule(address, identity, environment, parent), m_stored(defaultConstants())
{
    connect(this, &SimModule::eepromStored, this, [this] { m_stored = m_constants; });
    reset();
}

void SimHeater::reset()
{
    m_data = {};
    m_data.byte1 = 1;
    m_constants = m_stored;
}

bool SimHeater::configure(const QJsonObject& physics, QString* error)
{
    if (physics.isEmpty())
        return true;
    *error = QStringLiteral("unknown heater key \"%1\"").arg(physics.begin().key());
    return false;
}

QJsonObject SimHeater::eeprom() const
{
    return {{"constants", cuToJson(m_stored)}};
}

bool SimHeater::setEeprom(const QJsonObject& eeprom, QString* error)
{
    VX9HT0V0_EEPROM_Const_t constants = m_stored;
    for (auto it = eeprom.begin(); it != eeprom.end(); ++it) {
        if (it.key() != QLatin1String("constants")) {
            *error = QStringLiteral("unknown EEPROM key \"%1\"").arg(it.key());
            return false;
        }
        if (!cuMergeJson(it.value(), &constants, QStringLiteral("heater constants"), error))
            return false;
    }
    m_constants = m_stored = constants;
    return true;
}

std::optional<QList<SimModule::Answer>> SimHeater::handleOwn(quint8 command, const QByteArray& data)
{
    if (command == Command13 || command == Command14)
        return acknowledge(command);
    char* const structures[] = {reinterpret_cast<char*>(&m_data),
                                reinterpret_cast<char*>(&m_constants)};
    return simfields::serve(command, data, Fields, structures);
}
