#include "simsisbias.h"

#include "simheater.h"

namespace {

using simfields::Field;
enum Structure { Data, ExtraFlag, Sweep, Eeprom };
using E = VX9BSM0V0_EEPROM_Const_t;

const Field Fields[] = {
    {16, Field::None, Data, 0, sizeof(VX9BSM0_Data_t)},
    {17, 18, Data, offsetof(VX9BSM0_Data_t, value0), 4},
    {19, 20, Data, offsetof(VX9BSM0_Data_t, value1), 4},
    {21, 22, Data, offsetof(VX9BSM0_Data_t, flag), 1, true},
    {23, 24, Data, offsetof(VX9BSM0_Data_t, modeByte), 1},
    {25, 26, ExtraFlag, 0, 1, true},
    {27, 28, Eeprom, 0, sizeof(E)},
    {29, 30, Eeprom, offsetof(E, pair0), 8},
    {31, 32, Eeprom, offsetof(E, pair1), 8},
    {33, 34, Eeprom, offsetof(E, pair2), 8},
    {35, 36, Eeprom, offsetof(E, pair3), 8},
    {37, 38, Eeprom, offsetof(E, pair4), 8},
    {39, 40, Eeprom, offsetof(E, const0), 4},
    {41, 42, Eeprom, offsetof(E, pair5), 8},
    {43, 44, Eeprom, offsetof(E, const1), 4},
    {45, 46, Eeprom, offsetof(E, const2), 4},
    {47, 48, Sweep, 0, sizeof(VX9BSM0_SWEEP_PARAMS_t)},
};

constexpr quint8 Command49 = 49;
constexpr quint8 Command50 = 50;

E defaultConstants()
{
    E c{};
    c.pair0 = c.pair1 = c.pair2 = c.pair3 = c.pair4 = c.pair5 = {1.0f, 0.0f};
    c.const0 = 10.0f; // series resistance, ohm
    c.const1 = 0.01f; // voltage limit, V
    c.const2 = 1e-3f; // current limit, A
    return c;
}

} // namespace

SimSisBias::SimSisBias(quint8 address, const SimModule::Identity& identity,
                       SimEnvironment* environment, QObject* parent)
    : SimModule(address, identity, environment, parent), m_stored(defaultConstants())
{
    connect(this, &SimModule::eepromStored, this, [this] { m_stored = m_constants; });
    reset();
}

void SimSisBias::reset()
{
    m_data = {};
    m_data.value0 = 2.5e-3f; // on the quasiparticle step of a Nb junction
    m_data.value1 = 40e-6f;
    m_extraFlag = true; // shorted until switched on
    m_sweep = {};
    m_constants = m_stored;
}

bool SimSisBias::configure(const QJsonObject& physics, QString* error)
{
    if (physics.isEmpty())
        return true;
    *error = QStringLiteral("unknown SIS bias key \"%1\"").arg(physics.begin().key());
    return false;
}

QJsonObject SimSisBias::eeprom() const
{
    return {{"constants", cuToJson(m_stored)}};
}

bool SimSisBias::setEeprom(const QJsonObject& eeprom, QString* error)
{
    E constants = m_stored;
    for (auto it = eeprom.begin(); it != eeprom.end(); ++it) {
        if (it.key() != QLatin1String("constants")) {
            *error = QStringLiteral("unknown EEPROM key \"%1\"").arg(it.key());
            return false;
        }
        if (!cuMergeJson(it.value(), &constants, QStringLiteral("SIS bias constants"), error))
            return false;
    }
    m_constants = m_stored = constants;
    return true;
}

std::optional<QList<SimModule::Answer>> SimSisBias::handleOwn(quint8 command,
                                                              const QByteArray& data)
{
    if (command == Command49 || command == Command50)
        return acknowledge(command);
    char* const structures[] = {
        reinterpret_cast<char*>(&m_data), reinterpret_cast<char*>(&m_extraFlag),
        reinterpret_cast<char*>(&m_sweep), reinterpret_cast<char*>(&m_constants)};
    return simfields::serve(command, data, Fields, structures);
}
