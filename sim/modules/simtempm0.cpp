#include "simtempm0.h"

#include "core/simenvironment.h"
#include "drivers/structurejson.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

enum Code : quint8 {
    Data = 16,
    Temperature = 17,
    Pressure = 18,
    SensorCurrent = 19,
    SetSensorCurrent = 20,
    SensorVoltage = 21,
    PressureVoltageP = 22,
    PressureVoltageN = 23,
    Commutator = 24,
    SetCommutator = 25,
    Constants = 26,
    SetConstants = 27,
    FirstPair = 28, // read codes 28, 30 .. 38; each write code one above
    LastPair = 39,
    ReadTable = 40,
    WriteTable = 41,
};

constexpr int EntrySize = int(sizeof(pair_t<float>));
constexpr double MaxSensorCurrent = 1e-3;
// Below this the sensor gets no excitation worth measuring.
constexpr double MinSensorCurrent = 1e-9;
// The gauge's bridge sits at mid-supply; the pressure shows as the difference of its inputs.
constexpr double GaugeCommonMode = 2.5;
constexpr double GaugeSlope = 500.0; // mbar per volt
constexpr double ReliefPressure = 1200.0;

constexpr pair_t<float> VX9TDM0V1_EEPROM_Const_t::*PairFields[] = {
    &VX9TDM0V1_EEPROM_Const_t::tempSensorCurrentAdc,
    &VX9TDM0V1_EEPROM_Const_t::tempSensorCurrentDac,
    &VX9TDM0V1_EEPROM_Const_t::tempSensorVoltage,
    &VX9TDM0V1_EEPROM_Const_t::pressSensorVoltageP,
    &VX9TDM0V1_EEPROM_Const_t::pressSensorVoltageN,
    &VX9TDM0V1_EEPROM_Const_t::pressSensorCoeffs,
};

// Helium-4 saturated vapour pressure, Clausius-Clapeyron through the lambda point
// (2.17 K, 50.4 mbar) and the normal boiling point (4.22 K, 1013 mbar).
double heliumVapourPressure(double kelvin)
{
    if (kelvin < 0.5)
        return 0.0;
    return std::min(ReliefPressure, std::exp(10.10 - 13.41 / kelvin));
}

QByteArray floatBytes(float value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

SimTempM0::SimTempM0(quint8 address, const SimModule::Identity& identity,
                     SimEnvironment* environment, QObject* parent)
    : SimModule(address, identity, environment, parent), m_stage(environment),
      m_constants(defaultConstants()), m_table(defaultTable()), m_storedConstants(m_constants),
      m_storedTable(m_table)
{
    connect(this, &SimModule::eepromStored, this, [this] {
        m_storedConstants = m_constants;
        m_storedTable = m_table;
    });
}

SimTempM0::SensorTable SimTempM0::defaultTable()
{
    // Anchor points of the curve; the table spreads its points evenly in log T between them.
    static const std::pair<double, double> anchors[] = {
        {1.4, 1.700},   {2.0, 1.690},   {3.0, 1.660},   {4.2, 1.620},   {6.0, 1.550},
        {8.0, 1.460},   {10.0, 1.370},  {12.0, 1.290},  {15.0, 1.210},  {20.0, 1.150},
        {25.0, 1.125},  {30.0, 1.110},  {40.0, 1.090},  {50.0, 1.070},  {77.0, 1.020},
        {100.0, 0.970}, {150.0, 0.870}, {200.0, 0.760}, {250.0, 0.660}, {300.0, 0.560},
        {325.0, 0.510},
    };
    SensorTable table{};
    const double low = std::log(anchors[0].first);
    const double high = std::log(std::end(anchors)[-1].first);
    for (int i = 0; i < TableSize; ++i) {
        const double logT = low + (high - low) * i / (TableSize - 1);
        const double kelvin = std::exp(logT);
        size_t k = 0;
        while (k + 2 < std::size(anchors) && anchors[k + 1].first < kelvin)
            ++k;
        const double l0 = std::log(anchors[k].first), l1 = std::log(anchors[k + 1].first);
        const double f = std::clamp((logT - l0) / (l1 - l0), 0.0, 1.0);
        const double volts = anchors[k].second + f * (anchors[k + 1].second - anchors[k].second);
        table[i] = {float(volts), float(kelvin)};
    }
    return table;
}

double SimTempM0::tableVoltage(const SensorTable& table, double kelvin)
{
    QList<pair_t<float>> points;
    for (const pair_t<float>& e : table)
        if (std::isfinite(e.first) && std::isfinite(e.second))
            points.append(e);
    if (points.isEmpty())
        return 0.0;
    std::sort(points.begin(), points.end(),
              [](const pair_t<float>& a, const pair_t<float>& b) { return a.second < b.second; });
    if (kelvin <= points.first().second)
        return points.first().first;
    if (kelvin >= points.last().second)
        return points.last().first;
    for (qsizetype i = 1; i < points.size(); ++i) {
        const pair_t<float>& a = points.at(i - 1);
        const pair_t<float>& b = points.at(i);
        if (kelvin <= b.second) {
            if (b.second == a.second)
                return a.first;
            const double f = (kelvin - a.second) / (double(b.second) - a.second);
            return a.first + f * (double(b.first) - a.first);
        }
    }
    return points.last().first;
}

VX9TDM0V1_EEPROM_Const_t SimTempM0::defaultConstants()
{
    VX9TDM0V1_EEPROM_Const_t c{};
    c.tempSensorCurrentAdc = {1.0f, 0.0f};
    c.tempSensorCurrentDac = {1.0f, 0.0f};
    c.tempSensorVoltage = {1.0f, 0.0f};
    c.pressSensorVoltageP = {1.0f, 0.0f};
    c.pressSensorVoltageN = {1.0f, 0.0f};
    c.pressSensorCoeffs = {float(GaugeSlope), 0.0f};
    return c;
}

bool SimTempM0::validChunk(int start, int count)
{
    return start >= 0 && count >= 1 && start + count <= TableSize && count * EntrySize <= 248;
}

void SimTempM0::reset()
{
    m_sensorCurrent = 1e-5f;
    m_commutator = true;
    m_constants = m_storedConstants;
    m_table = m_storedTable;
}

bool SimTempM0::configure(const QJsonObject& physics, QString* error)
{
    double fixed = m_fixedPressureMbar;
    double noise = m_pressureNoiseMbar;
    for (auto it = physics.begin(); it != physics.end(); ++it) {
        const QString& key = it.key();
        if (key == QLatin1String("stage")) {
            if (!it.value().isObject()) {
                *error = QStringLiteral("\"stage\" must be an object");
                return false;
            }
        } else if (key == QLatin1String("pressureMbar") ||
                   key == QLatin1String("pressureNoiseMbar")) {
            const double v = it.value().toDouble(-1);
            if (!it.value().isDouble() || !(v >= 0) || !std::isfinite(v)) {
                *error = QStringLiteral("\"%1\" must be a number not below 0").arg(key);
                return false;
            }
            (key == QLatin1String("pressureMbar") ? fixed : noise) = v;
        } else {
            *error = QStringLiteral("unknown temperature module key \"%1\"").arg(key);
            return false;
        }
    }
    if (physics.contains(QLatin1String("stage")) &&
        !m_stage.configure(physics.value(QLatin1String("stage")).toObject(), error))
        return false;
    m_fixedPressureMbar = fixed;
    m_pressureNoiseMbar = noise;
    return true;
}

QJsonValue SimTempM0::tableToJson(const SensorTable& table)
{
    QJsonArray array;
    for (const pair_t<float>& e : table)
        array.append(QJsonArray{double(e.first), double(e.second)});
    return array;
}

bool SimTempM0::tableFromJson(const QJsonValue& json, SensorTable* table, QString* error)
{
    const QJsonArray array = json.toArray();
    if (!json.isArray() || array.size() != TableSize) {
        *error = QStringLiteral("a temperature table must hold %1 entries").arg(TableSize);
        return false;
    }
    SensorTable result{};
    for (int i = 0; i < TableSize; ++i) {
        const QJsonArray entry = array.at(i).toArray();
        if (entry.size() != 2 || !entry.at(0).isDouble() || !entry.at(1).isDouble()) {
            *error = QStringLiteral("table entry %1 must be [voltage, kelvin]").arg(i);
            return false;
        }
        result[i] = {float(entry.at(0).toDouble()), float(entry.at(1).toDouble())};
    }
    *table = result;
    return true;
}

QJsonObject SimTempM0::eeprom() const
{
    return {{"constants", cuToJson(m_storedConstants)}, {"table", tableToJson(m_storedTable)}};
}

bool SimTempM0::setEeprom(const QJsonObject& eeprom, QString* error)
{
    VX9TDM0V1_EEPROM_Const_t constants = m_storedConstants;
    SensorTable table = m_storedTable;
    for (auto it = eeprom.begin(); it != eeprom.end(); ++it) {
        if (it.key() == QLatin1String("constants")) {
            // Fields left out keep their values.
            if (!cuMergeJson(it.value(), &constants, QStringLiteral("EEPROM constants"), error))
                return false;
        } else if (it.key() == QLatin1String("table")) {
            if (!tableFromJson(it.value(), &table, error))
                return false;
        } else {
            *error = QStringLiteral("unknown EEPROM key \"%1\"").arg(it.key());
            return false;
        }
    }
    m_constants = m_storedConstants = constants;
    m_table = m_storedTable = table;
    return true;
}

double SimTempM0::pressure(double kelvin)
{
    const double truth =
        m_fixedPressureMbar >= 0 ? m_fixedPressureMbar : heliumVapourPressure(kelvin);
    return truth + (m_pressureNoiseMbar > 0 ? environment()->gaussian(0, m_pressureNoiseMbar) : 0);
}

VX9TDM0V1_Data_t SimTempM0::measure()
{
    VX9TDM0V1_Data_t d{};
    const double kelvin = m_stage.reading();
    d.tempSensorCurrent = m_sensorCurrent;
    d.commutator = m_commutator;
    // The module reads the sensor voltage and turns it into a temperature with its table; the
    // sensor follows the same table, so a reading is consistent with it both ways.
    if (m_commutator && m_sensorCurrent > MinSensorCurrent) {
        d.temperature = float(kelvin);
        d.tempSensorVoltage = float(tableVoltage(m_table, kelvin));
    }
    // The gauge itself is calibrated by the factory coefficients; the module converts its
    // voltages with the coefficients it holds, so edited coefficients show in the pressure.
    const double difference = pressure(kelvin) / GaugeSlope;
    d.pressSensorVoltageP = float(GaugeCommonMode + difference / 2);
    d.pressSensorVoltageN = float(GaugeCommonMode - difference / 2);
    const pair_t<float>& k = m_constants.pressSensorCoeffs;
    d.pressure =
        float(double(k.first) * (double(d.pressSensorVoltageP) - d.pressSensorVoltageN) + k.second);
    return d;
}

std::optional<QList<SimModule::Answer>> SimTempM0::handleOwn(quint8 command, const QByteArray& data)
{
    switch (command) {
    case Data:
        return answer(command, bytesOf(measure()));
    case Temperature:
        return answer(command, floatBytes(measure().temperature));
    case Pressure:
        return answer(command, floatBytes(measure().pressure));
    case SensorCurrent:
        return answer(command, floatBytes(m_sensorCurrent));
    case SensorVoltage:
        return answer(command, floatBytes(measure().tempSensorVoltage));
    case PressureVoltageP:
        return answer(command, floatBytes(measure().pressSensorVoltageP));
    case PressureVoltageN:
        return answer(command, floatBytes(measure().pressSensorVoltageN));
    case SetSensorCurrent: {
        float value;
        if (!fromBytes(data, &value) || !std::isfinite(value))
            return QList<Answer>{};
        m_sensorCurrent = float(std::clamp(double(value), 0.0, MaxSensorCurrent));
        return acknowledge(command);
    }
    case Commutator:
        return answer(command, QByteArray(1, char(m_commutator)));
    case SetCommutator:
        if (data.size() != 1)
            return QList<Answer>{};
        m_commutator = data.at(0) != 0;
        return acknowledge(command);
    case Constants:
        return answer(command, bytesOf(m_constants));
    case SetConstants:
        if (!fromBytes(data, &m_constants))
            return QList<Answer>{};
        return acknowledge(command);
    case ReadTable: {
        if (data.size() != 2 || !validChunk(quint8(data.at(0)), quint8(data.at(1))))
            return QList<Answer>{};
        const int start = quint8(data.at(0));
        return answer(command, QByteArray(reinterpret_cast<const char*>(&m_table[start]),
                                          quint8(data.at(1)) * EntrySize));
    }
    case WriteTable: {
        if (data.size() < 2 || !validChunk(quint8(data.at(0)), quint8(data.at(1))) ||
            data.size() != 2 + quint8(data.at(1)) * EntrySize)
            return QList<Answer>{};
        std::memcpy(static_cast<void*>(&m_table[quint8(data.at(0))]), data.constData() + 2,
                    data.size() - 2);
        return acknowledge(command);
    }
    default:
        break;
    }
    if (command >= FirstPair && command <= LastPair) {
        pair_t<float>& field = m_constants.*PairFields[(command - FirstPair) / 2];
        if ((command - FirstPair) % 2 == 0)
            return answer(command, bytesOf(field));
        if (!fromBytes(data, &field))
            return QList<Answer>{};
        return acknowledge(command);
    }
    return std::nullopt;
}
