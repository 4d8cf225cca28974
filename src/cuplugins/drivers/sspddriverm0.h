#pragma once
// Driver of the model-0 SSPD bias and read-out module ("VX9SDM0"): one property per device
// quantity, plus the live data, parameter and calibration composites, which answers and
// acknowledgements keep consistent with the single properties.
#include "commondriver.h"
#include "pair.h"
#include "structures/sspdstructs.h"

class SspdDriverM0 : public CommonDriver
{
    Q_OBJECT
public:
    enum Code : quint8 {
        CodeData = 16,
        CodeCurrentRead = 17,
        CodeCurrentWrite = 18,
        CodeVoltage = 19,
        CodeCounts = 20,
        CodeStatusRead = 21,
        CodeStatusWrite = 22,
        CodeShortEnable = 23,
        CodeAmplifierEnable = 24,
        CodeRfKeyToComparator = 25,
        CodeComparatorEnable = 26,
        CodeCounterEnable = 27,
        CodeAutoResetEnable = 28,
        CodeParamsRead = 29,
        CodeParamsWrite = 30,
        CodeCmpRefLevelRead = 31,
        CodeCmpRefLevelWrite = 32,
        CodeTimeConstRead = 33,
        CodeTimeConstWrite = 34,
        CodeAutoResetThresholdRead = 35,
        CodeAutoResetThresholdWrite = 36,
        CodeAutoResetTimeOutRead = 37,
        CodeAutoResetTimeOutWrite = 38,
        CodeAutoResetCountsRead = 39,
        CodeAutoResetCountsWrite = 40,
        CodeEepromConstRead = 41,
        CodeEepromConstWrite = 42,
        CodeCurrentAdcCoeffsRead = 43,
        CodeCurrentAdcCoeffsWrite = 44,
        CodeVoltageAdcCoeffsRead = 45,
        CodeVoltageAdcCoeffsWrite = 46,
        CodeCurrentDacCoeffsRead = 47,
        CodeCurrentDacCoeffsWrite = 48,
        CodeCmpRefDacCoeffsRead = 49,
        CodeCmpRefDacCoeffsWrite = 50,
        CodeAuxFlagRead = 51,
        CodeAuxFlagWrite = 52,
    };

    explicit SspdDriverM0(QObject* parent = nullptr);

    DriverPropertyReadOnly<VX9SDM0V1_Data_t>* data() { return &m_data; }
    DriverProperty<float>* current() { return &m_current; }
    DriverPropertyReadOnly<float>* voltage() { return &m_voltage; }
    DriverPropertyReadOnly<float>* counts() { return &m_counts; }
    DriverProperty<VX9SDM0_Status_t>* status() { return &m_status; }
    DriverPropertyWriteOnly<bool>* shortEnable() { return &m_shortEnable; }
    DriverPropertyWriteOnly<bool>* amplifierEnable() { return &m_amplifierEnable; }
    DriverPropertyWriteOnly<bool>* rfKeyToComparator() { return &m_rfKeyToComparator; }
    DriverPropertyWriteOnly<bool>* comparatorEnable() { return &m_comparatorEnable; }
    DriverPropertyWriteOnly<bool>* counterEnable() { return &m_counterEnable; }
    DriverPropertyWriteOnly<bool>* autoResetEnable() { return &m_autoResetEnable; }
    DriverProperty<VX9SDM0V1_Param_t>* params() { return &m_params; }
    DriverProperty<float>* cmpRefLevel() { return &m_cmpRefLevel; }
    DriverProperty<float>* timeConst() { return &m_timeConst; }
    DriverProperty<float>* autoResetThreshold() { return &m_autoResetThreshold; }
    DriverProperty<float>* autoResetTimeOut() { return &m_autoResetTimeOut; }
    DriverProperty<quint32>* autoResetCounts() { return &m_autoResetCounts; }
    DriverProperty<VX9SDM0V1_EEPROM_Const_t>* eepromConst() { return &m_eepromConst; }
    DriverProperty<pair_t<float>>* currentAdcCoeffs() { return &m_currentAdcCoeffs; }
    DriverProperty<pair_t<float>>* voltageAdcCoeffs() { return &m_voltageAdcCoeffs; }
    DriverProperty<pair_t<float>>* currentDacCoeffs() { return &m_currentDacCoeffs; }
    DriverProperty<pair_t<float>>* cmpRefDacCoeffs() { return &m_cmpRefDacCoeffs; }
    // Declared so that its codes stay taken; nothing in the application uses it.
    DriverProperty<bool>* auxFlag() { return &m_auxFlag; }

signals:
    void dataUpdated(VX9SDM0V1_Data_t data);
    void paramsUpdated(VX9SDM0V1_Param_t params);
    void eepromConstUpdated(VX9SDM0V1_EEPROM_Const_t eeprom);

private slots:
    void updateData(VX9SDM0V1_Data_t data);
    void updateStatus(VX9SDM0_Status_t status);
    void updateParams(VX9SDM0V1_Param_t params);
    void updateEEPROM(VX9SDM0V1_EEPROM_Const_t eeprom);

private:
    void followSwitch(DriverPropertyWriteOnly<bool>* control, int bit);

    DriverPropertyReadOnly<VX9SDM0V1_Data_t> m_data;
    DriverProperty<float> m_current;
    DriverPropertyReadOnly<float> m_voltage;
    DriverPropertyReadOnly<float> m_counts;
    DriverProperty<VX9SDM0_Status_t> m_status;
    DriverPropertyWriteOnly<bool> m_shortEnable;
    DriverPropertyWriteOnly<bool> m_amplifierEnable;
    DriverPropertyWriteOnly<bool> m_rfKeyToComparator;
    DriverPropertyWriteOnly<bool> m_comparatorEnable;
    DriverPropertyWriteOnly<bool> m_counterEnable;
    DriverPropertyWriteOnly<bool> m_autoResetEnable;
    DriverProperty<VX9SDM0V1_Param_t> m_params;
    DriverProperty<float> m_cmpRefLevel;
    DriverProperty<float> m_timeConst;
    DriverProperty<float> m_autoResetThreshold;
    DriverProperty<float> m_autoResetTimeOut;
    DriverProperty<quint32> m_autoResetCounts;
    DriverProperty<VX9SDM0V1_EEPROM_Const_t> m_eepromConst;
    DriverProperty<pair_t<float>> m_currentAdcCoeffs;
    DriverProperty<pair_t<float>> m_voltageAdcCoeffs;
    DriverProperty<pair_t<float>> m_currentDacCoeffs;
    DriverProperty<pair_t<float>> m_cmpRefDacCoeffs;
    DriverProperty<bool> m_auxFlag;
};
