#pragma once
// Driver of the model-1 temperature module ("VX9TDM1"): four temperature channels, two
// relays and a switcher mode. Channel values live in the driver and move to and from the
// module only through the explicit operations below.
#include "commondriver.h"
#include "crelaysstatus.h"
#include "pair.h"
#include "structures/tempstructs.h"

#include <array>

// The module answers the switcher mode in four bytes but takes it in one; either way the
// first byte is the mode.
template <> struct DriverValue<cmd::enum_VX9TDM1_SwitcherMode>
{
    static constexpr int size = 4;

    static cmd::enum_VX9TDM1_SwitcherMode decode(const QByteArray& bytes)
    {
        return cmd::enum_VX9TDM1_SwitcherMode(bytes.isEmpty() ? 0 : quint8(bytes.at(0)));
    }
    static QByteArray encode(const cmd::enum_VX9TDM1_SwitcherMode& value)
    {
        return QByteArray(1, char(quint8(value)));
    }
};

class TempDriverM1 : public CommonDriver
{
    Q_OBJECT
public:
    static constexpr int ChannelCount = 4;
    static constexpr quint8 AllChannels = 255;
    static constexpr int TableSize = 100;
    // Entries per table message.
    static constexpr int TableChunk = 10;
    using TempTable = std::array<pair_t<float>, TableSize>;

    enum Code : quint8 {
        CodeTemperature = 17,
        CodeSensorCurrent = 20,
        CodeSensorVoltage = 21,
        CodeCalibration = 26,
        CodeSetCalibration = 27,
        CodeReadTempTable = 40,
        CodeWriteTempTable = 41,
        CodeRelays = 42,
        CodeSetRelays = 43,
        CodeSwitcherMode = 44,
        CodeSetSwitcherMode = 45,
        CodeChannelSettings = 46,
        CodeSetChannelSettings = 47,
    };

    explicit TempDriverM1(QObject* parent = nullptr);

    DriverProperty<cRelaysStatus>* relays() { return &m_relays; }
    DriverProperty<cmd::enum_VX9TDM1_SwitcherMode>* switcherMode() { return &m_switcherMode; }

    // Values held by the driver. Getters give zero for a channel outside 0..3 or an entry
    // outside 0..99; setters ignore them.
    float sensorVoltage(int ch) const;
    float temperature(int ch) const;
    VX9TDM1_ChannelSetting_t channelSetting(int ch) const;
    void setChannelSetting(int ch, const VX9TDM1_ChannelSetting_t& value);
    VX9TDM1_Calibration_t calibration(int ch) const;
    void setCalibration(int ch, float a, float b, float c, float d);
    pair_t<float> tableEntry(int ch, int index) const;
    void setTableEntry(int ch, int index, float first, float second);
    TempTable tableData(int ch) const;
    // Pairs (voltage, temperature) one after the other.
    void setTable(int ch, const std::array<float, 2 * TableSize>& values);

    // Module operations; true when the module answered as expected. A failed read leaves
    // the held values as they were.
    // ch is 0..3, or 255 for all channels.
    bool setSensorCurrent(int ch, float value);
    bool setSensorCurrentAll(float value);
    bool readSensorVoltages();
    bool readSensorVoltage(int ch);
    bool readTemperatures();
    bool readTemperature(int ch);
    bool writeChannelSettings();
    bool readChannelSettings();
    bool writeCalibration();
    bool readCalibration();
    // All four tables in chunks, channel 0 first; stop at the first chunk that fails.
    bool writeTempTables();
    bool readTempTables();

private:
    // One exchange of an untyped property whose answer must be exactly expectedSize bytes
    // long (-1: any length, for acknowledgements).
    bool transfer(DriverProperty_p* property, quint8 code, const QByteArray& request, int tries,
                  int expectedSize, QByteArray* answer = nullptr);

    DriverProperty<cRelaysStatus> m_relays;
    DriverProperty<cmd::enum_VX9TDM1_SwitcherMode> m_switcherMode;
    DriverProperty_p m_sensorVoltageProperty;
    DriverProperty_p m_sensorCurrentProperty;
    DriverProperty_p m_temperatureProperty;
    DriverProperty_p m_channelSettingsProperty;
    DriverProperty_p m_calibrationProperty;
    DriverProperty_p m_tempTablesProperty;

    std::array<float, ChannelCount> m_sensorVoltages{};
    std::array<float, ChannelCount> m_temperatures{};
    std::array<VX9TDM1_ChannelSetting_t, ChannelCount> m_channelSettings{};
    std::array<VX9TDM1_Calibration_t, ChannelCount> m_calibration{};
    std::array<TempTable, ChannelCount> m_tempTables{};
};
