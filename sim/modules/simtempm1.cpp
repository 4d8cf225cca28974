#include "simtempm1.h"

#include "drivers/structurejson.h"

#include <QJsonArray>
#include <cmath>
#include <cstring>

namespace {

enum Code : quint8 {
    Temperature = 17,
    SensorCurrent = 20, // read with a channel byte, written with channel and value
    SensorVoltage = 21,
    Calibration = 26,
    SetCalibration = 27,
    ReadTable = 40,
    WriteTable = 41,
    Relays = 42,
    SetRelays = 43,
    SwitcherMode = 44,
    SetSwitcherMode = 45,
    ChannelSettings = 46,
    SetChannelSettings = 47,
};

constexpr quint8 AllChannels = 255;
constexpr int EntrySize = int(sizeof(pair_t<float>));
constexpr int SettingSize = 5; // flag, then the value, packed
constexpr float DefaultSensorCurrent = 1e-5f;
constexpr double MaxSensorCurrent = 1e-3;
constexpr double MinSensorCurrent = 1e-9;
constexpr double PlateNoiseK = 0.002;

SimColdStage::Parameters pumpParameters()
{
    SimColdStage::Parameters p;
    p.baseK = 4.5;    // on the 4 K plate through its heat switch
    p.idleK = 12.0;   // left alone it stays warm
    p.heatedK = 45.0; // hot enough to drive the helium out of the charcoal
    p.tauOpenS = 90.0;
    p.tauClosedS = 30.0;
    p.driftK = 0.02;
    p.noiseK = 0.005;
    return p;
}

QByteArray floatBytes(float value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

QJsonValue calibrationToJson(const std::array<VX9TDM1_Calibration_t, SimTempM1::ChannelCount>& c)
{
    QJsonArray array;
    for (const VX9TDM1_Calibration_t& channel : c)
        array.append(cuToJson(channel));
    return array;
}

} // namespace

SimTempM1::SimTempM1(quint8 address, const SimModule::Identity& identity,
                     SimEnvironment* environment, QObject* parent)
    : SimModule(address, identity, environment, parent),
      m_stages{SimColdStage(environment), SimColdStage(environment, pumpParameters()),
               SimColdStage(environment, SimColdStage::constant(4.2, PlateNoiseK)),
               SimColdStage(environment, SimColdStage::constant(45.0, PlateNoiseK))}
{
    m_calibration.fill({0.0f, 1.0f, 0.0f, 0.0f});
    m_tables.fill(SimTempM0::defaultTable());
    m_storedCalibration = m_calibration;
    m_storedTables = m_tables;
    connect(this, &SimModule::eepromStored, this, [this] {
        m_storedCalibration = m_calibration;
        m_storedTables = m_tables;
    });
    reset();
}

void SimTempM1::reset()
{
    m_relays = RestRelays;
    applyRelays();
    m_switcherMode = 0;
    m_sensorCurrents.fill(DefaultSensorCurrent);
    m_settings.fill({1, {0, 0, 0}, 1.0f});
    m_calibration = m_storedCalibration;
    m_tables = m_storedTables;
}

void SimTempM1::applyRelays()
{
    for (SimColdStage& stage : m_stages) {
        stage.setHeater(m_relays[HeaterRelay]);
        stage.setSwitch(m_relays[SwitchRelay]);
    }
}

bool SimTempM1::configure(const QJsonObject& physics, QString* error)
{
    std::array<double, 2> plates{m_stages[2].parameters().baseK, m_stages[3].parameters().baseK};
    for (auto it = physics.begin(); it != physics.end(); ++it) {
        const QString& key = it.key();
        if (key == QLatin1String("stage") || key == QLatin1String("pump")) {
            if (!it.value().isObject()) {
                *error = QStringLiteral("\"%1\" must be an object").arg(key);
                return false;
            }
        } else if (key == QLatin1String("platesK")) {
            const QJsonArray array = it.value().toArray();
            if (array.size() != 2 || !array.at(0).isDouble() || !array.at(1).isDouble() ||
                !(array.at(0).toDouble() >= 0) || !(array.at(1).toDouble() >= 0)) {
                *error = QStringLiteral("\"platesK\" must be two temperatures");
                return false;
            }
            plates = {array.at(0).toDouble(), array.at(1).toDouble()};
        } else {
            *error = QStringLiteral("unknown temperature module key \"%1\"").arg(key);
            return false;
        }
    }
    // Both stage objects are checked before either changes.
    SimColdStage stage = m_stages[0], pump = m_stages[1];
    if (!stage.configure(physics.value(QLatin1String("stage")).toObject(), error) ||
        !pump.configure(physics.value(QLatin1String("pump")).toObject(), error))
        return false;
    m_stages[0] = stage;
    m_stages[1] = pump;
    for (int i = 0; i < 2; ++i)
        if (!m_stages[2 + i].configure(
                {{"baseK", plates[i]}, {"idleK", plates[i]}, {"heatedK", plates[i]}}, error))
            return false;
    applyRelays();
    for (SimColdStage& s : m_stages)
        s.settle();
    return true;
}

QJsonObject SimTempM1::eeprom() const
{
    QJsonArray tables;
    for (const SensorTable& table : m_storedTables)
        tables.append(SimTempM0::tableToJson(table));
    return {{"calibration", calibrationToJson(m_storedCalibration)}, {"tables", tables}};
}

bool SimTempM1::setEeprom(const QJsonObject& eeprom, QString* error)
{
    auto calibration = m_storedCalibration;
    auto tables = m_storedTables;
    for (auto it = eeprom.begin(); it != eeprom.end(); ++it) {
        const QJsonArray array = it.value().toArray();
        if (it.key() != QLatin1String("calibration") && it.key() != QLatin1String("tables")) {
            *error = QStringLiteral("unknown EEPROM key \"%1\"").arg(it.key());
            return false;
        }
        if (array.size() != ChannelCount) {
            *error = QStringLiteral("\"%1\" must hold %2 channels").arg(it.key()).arg(ChannelCount);
            return false;
        }
        for (int ch = 0; ch < ChannelCount; ++ch) {
            if (it.key() == QLatin1String("tables")) {
                if (!SimTempM0::tableFromJson(array.at(ch), &tables[ch], error))
                    return false;
                continue;
            }
            bool ok = false;
            calibration[ch] = cuFromJson<VX9TDM1_Calibration_t>(array.at(ch), &ok);
            if (!ok) {
                *error = QStringLiteral("calibration of channel %1 must be {\"a\", \"b\", "
                                        "\"c\", \"d\"}")
                             .arg(ch);
                return false;
            }
        }
    }
    m_calibration = m_storedCalibration = calibration;
    m_tables = m_storedTables = tables;
    return true;
}

std::pair<float, float> SimTempM1::measure(int channel)
{
    const double kelvin = m_stages[channel].reading();
    if (!m_settings[channel].flag || !(m_sensorCurrents[channel] > MinSensorCurrent))
        return {0.0f, 0.0f};
    return {float(kelvin), float(SimTempM0::tableVoltage(m_tables[channel], kelvin))};
}

std::optional<QList<SimModule::Answer>> SimTempM1::perChannel(quint8 command,
                                                              const QByteArray& data, bool voltage)
{
    if (data.size() != 1)
        return QList<Answer>{};
    const quint8 ch = quint8(data.at(0));
    const auto value = [&](int c) {
        if (command == SensorCurrent)
            return m_sensorCurrents[c];
        const auto [kelvin, volts] = measure(c);
        return voltage ? volts : kelvin;
    };
    if (ch == AllChannels) {
        QByteArray all;
        for (int c = 0; c < ChannelCount; ++c)
            all.append(floatBytes(value(c)));
        return answer(command, all);
    }
    if (ch >= ChannelCount)
        return QList<Answer>{};
    return answer(command, floatBytes(value(ch)));
}

std::optional<QList<SimModule::Answer>> SimTempM1::handleOwn(quint8 command, const QByteArray& data)
{
    switch (command) {
    case Temperature:
        return perChannel(command, data, false);
    case SensorVoltage:
        return perChannel(command, data, true);
    case SensorCurrent: {
        if (data.size() == 1)
            return perChannel(command, data, false);
        float value;
        const quint8 ch = data.isEmpty() ? 0 : quint8(data.at(0));
        if (data.size() != 5 || (ch >= ChannelCount && ch != AllChannels))
            return QList<Answer>{};
        std::memcpy(&value, data.constData() + 1, sizeof value);
        if (!std::isfinite(value))
            return QList<Answer>{};
        value = float(std::clamp(double(value), 0.0, MaxSensorCurrent));
        for (int c = 0; c < ChannelCount; ++c)
            if (ch == AllChannels || ch == c)
                m_sensorCurrents[c] = value;
        return acknowledge(command);
    }
    case Calibration:
        return answer(command, bytesOf(m_calibration));
    case SetCalibration:
        if (!fromBytes(data, &m_calibration))
            return QList<Answer>{};
        return acknowledge(command);
    case ReadTable: {
        if (data.size() != 3 || quint8(data.at(0)) >= ChannelCount ||
            !SimTempM0::validChunk(quint8(data.at(1)), quint8(data.at(2))))
            return QList<Answer>{};
        const SensorTable& table = m_tables[quint8(data.at(0))];
        return answer(command, QByteArray(reinterpret_cast<const char*>(&table[quint8(data.at(1))]),
                                          quint8(data.at(2)) * EntrySize));
    }
    case WriteTable: {
        if (data.size() < 3 || quint8(data.at(0)) >= ChannelCount ||
            !SimTempM0::validChunk(quint8(data.at(1)), quint8(data.at(2))) ||
            data.size() != 3 + quint8(data.at(2)) * EntrySize)
            return QList<Answer>{};
        SensorTable& table = m_tables[quint8(data.at(0))];
        std::memcpy(static_cast<void*>(&table[quint8(data.at(1))]), data.constData() + 3,
                    data.size() - 3);
        return acknowledge(command);
    }
    case Relays:
        return answer(command, QByteArray(1, char(m_relays.raw() & 0x03)));
    case SetRelays: {
        if (data.size() != 1)
            return QList<Answer>{};
        // High nibble: the relays to change; low nibble: their new states.
        const quint8 mask = (quint8(data.at(0)) >> 4) & 0x03;
        const quint8 state = quint8(data.at(0)) & 0x0F;
        m_relays = quint8((m_relays.raw() & ~mask) | (state & mask));
        applyRelays();
        return acknowledge(command);
    }
    case SwitcherMode:
        return answer(command, QByteArray(1, char(m_switcherMode)) + QByteArray(3, '\0'));
    case SetSwitcherMode:
        // The mode travels in the low byte; a four-byte write carries it there as well.
        if (data.size() != 1 && data.size() != 4)
            return QList<Answer>{};
        m_switcherMode = quint8(data.at(0));
        return acknowledge(command);
    case ChannelSettings: {
        QByteArray bytes;
        for (const VX9TDM1_ChannelSetting_t& s : m_settings)
            bytes.append(char(s.flag)).append(floatBytes(s.value));
        return answer(command, bytes);
    }
    case SetChannelSettings:
        if (data.size() != ChannelCount * SettingSize)
            return QList<Answer>{};
        for (int c = 0; c < ChannelCount; ++c) {
            m_settings[c].flag = data.at(c * SettingSize) != 0;
            std::memcpy(&m_settings[c].value, data.constData() + c * SettingSize + 1,
                        sizeof(float));
        }
        return acknowledge(command);
    default:
        break;
    }
    return std::nullopt;
}
