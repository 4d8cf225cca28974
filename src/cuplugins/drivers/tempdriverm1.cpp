#include "tempdriverm1.h"

#include "driverslog.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
constexpr int EntrySize = int(sizeof(pair_t<float>));
constexpr int FloatSize = int(sizeof(float));
// Per channel on the wire: flag byte, then the value.
constexpr int SettingSize = 1 + FloatSize;
constexpr int WriteTries = 5;
constexpr int ReadTries = 5;
constexpr int TableWriteTries = 5;
constexpr int TableReadTries = 10;

bool validChannel(int ch)
{
    return ch >= 0 && ch < TempDriverM1::ChannelCount;
}

bool validEntry(int ch, int index)
{
    return validChannel(ch) && index >= 0 && index < TempDriverM1::TableSize;
}

void appendFloat(QByteArray& bytes, float value)
{
    bytes.append(reinterpret_cast<const char*>(&value), FloatSize);
}

float floatAt(const QByteArray& bytes, int offset)
{
    float value;
    std::memcpy(&value, bytes.constData() + offset, FloatSize);
    return value;
}
} // namespace

TempDriverM1::TempDriverM1(QObject* parent)
    : CommonDriver(parent), m_relays(this, CodeRelays, CodeSetRelays),
      m_switcherMode(this, CodeSwitcherMode, CodeSetSwitcherMode),
      m_sensorVoltageProperty(this, CodeSensorVoltage, None),
      m_sensorCurrentProperty(this, CodeSensorCurrent, CodeSensorCurrent),
      m_temperatureProperty(this, CodeTemperature, None),
      m_channelSettingsProperty(this, CodeChannelSettings, CodeSetChannelSettings),
      m_calibrationProperty(this, CodeCalibration, CodeSetCalibration),
      m_tempTablesProperty(this, CodeReadTempTable, CodeWriteTempTable)
{
}

float TempDriverM1::sensorVoltage(int ch) const
{
    return validChannel(ch) ? m_sensorVoltages[ch] : 0.0f;
}

float TempDriverM1::temperature(int ch) const
{
    return validChannel(ch) ? m_temperatures[ch] : 0.0f;
}

VX9TDM1_ChannelSetting_t TempDriverM1::channelSetting(int ch) const
{
    return validChannel(ch) ? m_channelSettings[ch] : VX9TDM1_ChannelSetting_t{};
}

void TempDriverM1::setChannelSetting(int ch, const VX9TDM1_ChannelSetting_t& value)
{
    if (validChannel(ch))
        m_channelSettings[ch] = value;
}

VX9TDM1_Calibration_t TempDriverM1::calibration(int ch) const
{
    return validChannel(ch) ? m_calibration[ch] : VX9TDM1_Calibration_t{};
}

void TempDriverM1::setCalibration(int ch, float a, float b, float c, float d)
{
    if (validChannel(ch))
        m_calibration[ch] = {a, b, c, d};
}

pair_t<float> TempDriverM1::tableEntry(int ch, int index) const
{
    return validEntry(ch, index) ? m_tempTables[ch][index] : pair_t<float>{};
}

void TempDriverM1::setTableEntry(int ch, int index, float first, float second)
{
    if (validEntry(ch, index))
        m_tempTables[ch][index] = {first, second};
}

TempDriverM1::TempTable TempDriverM1::tableData(int ch) const
{
    return validChannel(ch) ? m_tempTables[ch] : TempTable{};
}

void TempDriverM1::setTable(int ch, const std::array<float, 2 * TableSize>& values)
{
    if (!validChannel(ch))
        return;
    for (int i = 0; i < TableSize; ++i)
        m_tempTables[ch][i] = {values[2 * i], values[2 * i + 1]};
}

bool TempDriverM1::transfer(DriverProperty_p* property, quint8 code, const QByteArray& request,
                            int tries, int expectedSize, QByteArray* answer)
{
    bool ok = false;
    const QByteArray received = property->exchange(code, request, &ok, tries);
    if (!ok) {
        qCDebug(lcDrivers) << "address" << address() << "code" << code << "not answered";
        return false;
    }
    if (expectedSize >= 0 && received.size() != expectedSize) {
        qCDebug(lcDrivers) << "address" << address() << "code" << code << "answered"
                           << received.size() << "bytes, expected" << expectedSize;
        return false;
    }
    if (answer)
        *answer = received;
    return true;
}

bool TempDriverM1::setSensorCurrent(int ch, float value)
{
    if (!validChannel(ch) && ch != AllChannels)
        return false;
    QByteArray request(1, char(quint8(ch)));
    appendFloat(request, value);
    return transfer(&m_sensorCurrentProperty, CodeSensorCurrent, request, 1, -1);
}

bool TempDriverM1::setSensorCurrentAll(float value)
{
    return setSensorCurrent(AllChannels, value);
}

bool TempDriverM1::readSensorVoltages()
{
    QByteArray answer;
    if (!transfer(&m_sensorVoltageProperty, CodeSensorVoltage, QByteArray(1, char(AllChannels)), 1,
                  ChannelCount * FloatSize, &answer))
        return false;
    for (int ch = 0; ch < ChannelCount; ++ch)
        m_sensorVoltages[ch] = floatAt(answer, ch * FloatSize);
    return true;
}

bool TempDriverM1::readSensorVoltage(int ch)
{
    QByteArray answer;
    if (!validChannel(ch) || !transfer(&m_sensorVoltageProperty, CodeSensorVoltage,
                                       QByteArray(1, char(ch)), 1, FloatSize, &answer))
        return false;
    m_sensorVoltages[ch] = floatAt(answer, 0);
    return true;
}

bool TempDriverM1::readTemperatures()
{
    QByteArray answer;
    if (!transfer(&m_temperatureProperty, CodeTemperature, QByteArray(1, char(AllChannels)), 1,
                  ChannelCount * FloatSize, &answer))
        return false;
    for (int ch = 0; ch < ChannelCount; ++ch)
        m_temperatures[ch] = floatAt(answer, ch * FloatSize);
    return true;
}

bool TempDriverM1::readTemperature(int ch)
{
    QByteArray answer;
    if (!validChannel(ch) || !transfer(&m_temperatureProperty, CodeTemperature,
                                       QByteArray(1, char(ch)), 1, FloatSize, &answer))
        return false;
    m_temperatures[ch] = floatAt(answer, 0);
    return true;
}

bool TempDriverM1::writeChannelSettings()
{
    QByteArray request;
    for (const VX9TDM1_ChannelSetting_t& setting : m_channelSettings) {
        request.append(char(setting.flag));
        appendFloat(request, setting.value);
    }
    return transfer(&m_channelSettingsProperty, CodeSetChannelSettings, request, WriteTries, -1);
}

bool TempDriverM1::readChannelSettings()
{
    QByteArray answer;
    if (!transfer(&m_channelSettingsProperty, CodeChannelSettings, {}, ReadTries,
                  ChannelCount * SettingSize, &answer))
        return false;
    for (int ch = 0; ch < ChannelCount; ++ch) {
        m_channelSettings[ch].flag = answer.at(ch * SettingSize) != 0;
        m_channelSettings[ch].value = floatAt(answer, ch * SettingSize + 1);
    }
    return true;
}

bool TempDriverM1::writeCalibration()
{
    const QByteArray request(reinterpret_cast<const char*>(m_calibration.data()),
                             sizeof m_calibration);
    return transfer(&m_calibrationProperty, CodeSetCalibration, request, WriteTries, -1);
}

bool TempDriverM1::readCalibration()
{
    QByteArray answer;
    if (!transfer(&m_calibrationProperty, CodeCalibration, {}, ReadTries, int(sizeof m_calibration),
                  &answer))
        return false;
    std::memcpy(static_cast<void*>(m_calibration.data()), answer.constData(), sizeof m_calibration);
    return true;
}

bool TempDriverM1::writeTempTables()
{
    for (int ch = 0; ch < ChannelCount; ++ch) {
        for (int start = 0; start < TableSize; start += TableChunk) {
            const int count = std::min(TableSize - start, TableChunk);
            QByteArray chunk;
            chunk.append(char(ch));
            chunk.append(char(start));
            chunk.append(char(count));
            chunk.append(reinterpret_cast<const char*>(&m_tempTables[ch][start]),
                         count * EntrySize);
            if (!transfer(&m_tempTablesProperty, CodeWriteTempTable, chunk, TableWriteTries, -1))
                return false;
        }
    }
    return true;
}

bool TempDriverM1::readTempTables()
{
    for (int ch = 0; ch < ChannelCount; ++ch) {
        for (int start = 0; start < TableSize; start += TableChunk) {
            const int count = std::min(TableSize - start, TableChunk);
            QByteArray request;
            request.append(char(ch));
            request.append(char(start));
            request.append(char(count));
            QByteArray answer;
            if (!transfer(&m_tempTablesProperty, CodeReadTempTable, request, TableReadTries, -1,
                          &answer))
                return false;
            const int entries = std::min(count, int(answer.size() / EntrySize));
            for (int i = 0; i < entries; ++i)
                std::memcpy(static_cast<void*>(&m_tempTables[ch][start + i]),
                            answer.constData() + i * EntrySize, EntrySize);
            if (entries < count) {
                qCDebug(lcDrivers) << "table" << ch << "chunk" << start << "answered" << entries
                                   << "of" << count << "entries";
                return false;
            }
        }
    }
    return true;
}
