#pragma once
// The model-1 temperature module ("VX9TDM1"): four sensor channels, each with its own table,
// excitation current, setting pair and calibration, plus two relays that drive a sorption
// cooler: relay 0 heats (cold stage and sorption pump), relay 1 closes the heat switch that
// cools them down. The recycle procedure thus shows heating, thermalisation and cooling down.
#include "core/simmodule.h"
#include "drivers/crelaysstatus.h"
#include "drivers/structures/tempstructs.h"
#include "simcoldstage.h"
#include "simtempm0.h"

#include <array>

class SimTempM1 : public SimModule
{
    Q_OBJECT
public:
    static constexpr int ChannelCount = 4;
    static constexpr int HeaterRelay = 0;
    static constexpr int SwitchRelay = 1;
    // Power-on relays: heater off, heat switch closed, the stage cold.
    static constexpr quint8 RestRelays = 0x02;
    using SensorTable = SimTempM0::SensorTable;

    // Rack "physics" keys (all optional):
    //   "stage"   object with the SimColdStage keys of the cold stage (channel 0)
    //   "pump"    the same for the sorption pump (channel 1)
    //   "platesK" two numbers, the steady temperatures of channels 2 and 3 (4 K plate, shield)
    // Channel settings: the flag switches the channel's measurement on; the value is kept
    // as given. Calibration floats and the switcher mode are kept as given.
    SimTempM1(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
              QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    // {"calibration": [{"a","b","c","d"} x 4], "tables": [[[voltage, kelvin] x 100] x 4]}
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

    SimColdStage& stage() { return m_stages[0]; }
    SimColdStage& pump() { return m_stages[1]; }
    cRelaysStatus relays() const { return m_relays; }

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    // Per channel: (temperature, sensor voltage) of one reading; zeros when not measured.
    std::pair<float, float> measure(int channel);
    // Answers a per-channel float query: one channel, or all four for channel 255.
    std::optional<QList<Answer>> perChannel(quint8 command, const QByteArray& data, bool voltage);
    void applyRelays();

    std::array<SimColdStage, ChannelCount> m_stages;
    cRelaysStatus m_relays{RestRelays};
    quint8 m_switcherMode = 0;
    std::array<float, ChannelCount> m_sensorCurrents{};
    std::array<VX9TDM1_ChannelSetting_t, ChannelCount> m_settings{};
    std::array<VX9TDM1_Calibration_t, ChannelCount> m_calibration{};
    std::array<SensorTable, ChannelCount> m_tables{};
    std::array<VX9TDM1_Calibration_t, ChannelCount> m_storedCalibration{};
    std::array<SensorTable, ChannelCount> m_storedTables{};
};
