#pragma once
// The model-0 temperature module ("VX9TDM0"): a sensor on a cold stage near 2.2 K read
// through the module's 100-point table, a pressure gauge with two voltage inputs, the
// commutator that connects the sensor excitation, six calibration pairs and the table in EEPROM.
#include "core/simmodule.h"
#include "drivers/pair.h"
#include "drivers/structures/tempstructs.h"
#include "simcoldstage.h"

#include <array>

class SimTempM0 : public SimModule
{
    Q_OBJECT
public:
    static constexpr int TableSize = 100;
    using SensorTable = std::array<pair_t<float>, TableSize>;

    // Rack "physics" keys (all optional):
    //   "stage"        object with the cold stage keys of SimColdStage (the stage rests with
    //                  its switch closed; this module has no relays)
    //   "pressureMbar" a fixed gauge pressure; without it the gauge reads the helium-4
    //                  vapour pressure at the stage temperature (about 55 mbar at 2.2 K)
    //   "pressureNoiseMbar" noise of one pressure reading
    SimTempM0(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
              QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    // {"constants": the calibration pairs by field name, "table": [[voltage, kelvin] x 100]}
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

    SimColdStage& stage() { return m_stage; }

    // A silicon-diode curve at 10 uA from 1.4 K to 325 K, the table a new module carries.
    static SensorTable defaultTable();
    // Sensor voltage at a temperature, interpolated in the table (entries in any order).
    static double tableVoltage(const SensorTable& table, double kelvin);
    static VX9TDM0V1_EEPROM_Const_t defaultConstants();
    // The table as JSON and back; a table of other than 100 numeric pairs is an error.
    static QJsonValue tableToJson(const SensorTable& table);
    static bool tableFromJson(const QJsonValue& json, SensorTable* table, QString* error);
    // A chunk request (start, count) within the table and the answer size limit.
    static bool validChunk(int start, int count);

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    VX9TDM0V1_Data_t measure();
    double pressure(double kelvin);

    SimColdStage m_stage;
    double m_fixedPressureMbar = -1; // below zero: helium vapour pressure
    double m_pressureNoiseMbar = 0.05;
    float m_sensorCurrent = 1e-5f;
    bool m_commutator = true;
    // What the module works with and what command 12 burned into its EEPROM.
    VX9TDM0V1_EEPROM_Const_t m_constants;
    SensorTable m_table;
    VX9TDM0V1_EEPROM_Const_t m_storedConstants;
    SensorTable m_storedTable;
};
