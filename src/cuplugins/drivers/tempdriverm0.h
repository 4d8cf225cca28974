#pragma once
// Driver of the model-0 temperature module ("VX9TDM0"): one temperature sensor, a pressure
// sensor, the commutator switch, six calibration pairs and a 100-point sensor table. Keeps
// the whole data and calibration sets consistent with every single value the module answers.
#include "commondriver.h"
#include "pair.h"
#include "structures/tempstructs.h"

#include <array>

class TempDriverM0 : public CommonDriver
{
    Q_OBJECT
public:
    static constexpr int TableSize = 100;
    // Entries per table message.
    static constexpr int TableChunk = 10;
    static constexpr int TableTries = 5;
    using TempTable = std::array<pair_t<float>, TableSize>;

    enum Code : quint8 {
        CodeData = 16,
        CodeTemperature = 17,
        CodePressure = 18,
        CodeTempSensorCurrent = 19,
        CodeSetTempSensorCurrent = 20,
        CodeTempSensorVoltage = 21,
        CodePressSensorVoltageP = 22,
        CodePressSensorVoltageN = 23,
        CodeCommutator = 24,
        CodeSetCommutator = 25,
        CodeEepromConst = 26,
        CodeSetEepromConst = 27,
        CodeTempSensorCurrentAdcCoeffs = 28,
        CodeTempSensorCurrentDacCoeffs = 30,
        CodeTempSensorVoltageCoeffs = 32,
        CodePressSensorVoltagePCoeffs = 34,
        CodePressSensorVoltageNCoeffs = 36,
        CodePressSensorCoeffs = 38,
        CodeReadTempTable = 40,
        CodeWriteTempTable = 41,
    };

    explicit TempDriverM0(QObject* parent = nullptr);

    DriverPropertyReadOnly<VX9TDM0V1_Data_t>* data() { return &m_data; }
    DriverPropertyReadOnly<float>* temperature() { return &m_temperature; }
    DriverPropertyReadOnly<float>* pressure() { return &m_pressure; }
    DriverProperty<float>* tempSensorCurrent() { return &m_tempSensorCurrent; }
    DriverPropertyReadOnly<float>* tempSensorVoltage() { return &m_tempSensorVoltage; }
    DriverPropertyReadOnly<float>* pressSensorVoltageP() { return &m_pressSensorVoltageP; }
    DriverPropertyReadOnly<float>* pressSensorVoltageN() { return &m_pressSensorVoltageN; }
    DriverProperty<bool>* commutator() { return &m_commutator; }
    DriverProperty<VX9TDM0V1_EEPROM_Const_t>* eepromConst() { return &m_eepromConst; }
    DriverProperty<pair_t<float>>* tempSensorCurrentAdcCoeffs()
    {
        return &m_tempSensorCurrentAdcCoeffs;
    }
    DriverProperty<pair_t<float>>* tempSensorCurrentDacCoeffs()
    {
        return &m_tempSensorCurrentDacCoeffs;
    }
    DriverProperty<pair_t<float>>* tempSensorVoltageCoeffs() { return &m_tempSensorVoltageCoeffs; }
    DriverProperty<pair_t<float>>* pressSensorVoltagePCoeffs()
    {
        return &m_pressSensorVoltagePCoeffs;
    }
    DriverProperty<pair_t<float>>* pressSensorVoltageNCoeffs()
    {
        return &m_pressSensorVoltageNCoeffs;
    }
    DriverProperty<pair_t<float>>* pressSensorCoeffs() { return &m_pressSensorCoeffs; }

    // The sensor table (voltage, temperature), edited in place and moved by the two calls
    // below. It starts zeroed.
    TempTable& tempTable() { return m_tempTable; }
    const TempTable& tempTable() const { return m_tempTable; }
    // Sends the table in chunks; stops at the first chunk the module does not acknowledge.
    bool writeTempTable();
    // Reads the table in chunks; stops at the first chunk that is not answered in full,
    // keeping the entries read so far.
    bool readTempTable();

signals:
    void dataUpdated(VX9TDM0V1_Data_t data);
    void eepromConstUpdated(VX9TDM0V1_EEPROM_Const_t eeprom);

private slots:
    void updateData(VX9TDM0V1_Data_t data);
    void updateEEPROM(VX9TDM0V1_EEPROM_Const_t eeprom);

private:
    void onDataAnswered();
    void onEepromAnswered();

    DriverPropertyReadOnly<VX9TDM0V1_Data_t> m_data;
    DriverPropertyReadOnly<float> m_temperature;
    DriverPropertyReadOnly<float> m_pressure;
    DriverProperty<float> m_tempSensorCurrent;
    DriverPropertyReadOnly<float> m_tempSensorVoltage;
    DriverPropertyReadOnly<float> m_pressSensorVoltageP;
    DriverPropertyReadOnly<float> m_pressSensorVoltageN;
    DriverProperty<bool> m_commutator;
    DriverProperty<VX9TDM0V1_EEPROM_Const_t> m_eepromConst;
    DriverProperty<pair_t<float>> m_tempSensorCurrentAdcCoeffs;
    DriverProperty<pair_t<float>> m_tempSensorCurrentDacCoeffs;
    DriverProperty<pair_t<float>> m_tempSensorVoltageCoeffs;
    DriverProperty<pair_t<float>> m_pressSensorVoltagePCoeffs;
    DriverProperty<pair_t<float>> m_pressSensorVoltageNCoeffs;
    DriverProperty<pair_t<float>> m_pressSensorCoeffs;
    DriverProperty_p m_tempTableProperty;
    TempTable m_tempTable{};
};
