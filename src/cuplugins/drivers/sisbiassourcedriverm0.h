#pragma once
// Driver of the SIS bias source: its live data and EEPROM constants, each value readable on
// its own and inside a composite that answer callbacks keep in step with the single values,
// plus sweep parameters and two commands passed through untouched.
#include "commondriver.h"
#include "pair.h"
#include "structures/sisstructs.h"

class SisBiasSourceDriverM0 : public CommonDriver
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit SisBiasSourceDriverM0(QObject* parent = nullptr);

    DriverPropertyReadOnly<VX9BSM0_Data_t>* data() { return &m_data; }
    DriverProperty<float>* value0() { return &m_value0; }
    DriverProperty<float>* value1() { return &m_value1; }
    DriverProperty<bool>* flag() { return &m_flag; }
    DriverProperty<char>* modeByte() { return &m_modeByte; }
    DriverProperty<VX9BSM0V0_EEPROM_Const_t>* eepromConst() { return &m_eepromConst; }
    DriverProperty<pair_t<float>>* pair0() { return &m_pair0; }
    DriverProperty<pair_t<float>>* pair2() { return &m_pair2; }
    DriverProperty<pair_t<float>>* pair4() { return &m_pair4; }
    DriverProperty<float>* const0() { return &m_const0; }
    DriverProperty<pair_t<float>>* pair1() { return &m_pair1; }
    DriverProperty<pair_t<float>>* pair3() { return &m_pair3; }
    DriverProperty<pair_t<float>>* pair5() { return &m_pair5; }
    DriverProperty<float>* const1() { return &m_const1; }
    DriverProperty<float>* const2() { return &m_const2; }
    DriverProperty<bool>* extraFlag() { return &m_extraFlag; }
    DriverProperty<VX9BSM0_SWEEP_PARAMS_t>* sweepParams() { return &m_sweepParams; }
    DriverCommand* command49() { return &m_command49; }
    DriverCommand* command50() { return &m_command50; }

signals:
    void dataUpdated(VX9BSM0_Data_t data);
    void eepromConstUpdated(VX9BSM0V0_EEPROM_Const_t eeprom);

private slots:
    void updateData(VX9BSM0_Data_t data);
    void updateEEPROM(VX9BSM0V0_EEPROM_Const_t eeprom);

private:
    DriverPropertyReadOnly<VX9BSM0_Data_t> m_data;
    DriverProperty<float> m_value0;
    DriverProperty<float> m_value1;
    DriverProperty<bool> m_flag;
    DriverProperty<char> m_modeByte;
    DriverProperty<VX9BSM0V0_EEPROM_Const_t> m_eepromConst;
    DriverProperty<pair_t<float>> m_pair0;
    DriverProperty<pair_t<float>> m_pair2;
    DriverProperty<pair_t<float>> m_pair4;
    DriverProperty<float> m_const0;
    DriverProperty<pair_t<float>> m_pair1;
    DriverProperty<pair_t<float>> m_pair3;
    DriverProperty<pair_t<float>> m_pair5;
    DriverProperty<float> m_const1;
    DriverProperty<float> m_const2;
    DriverProperty<bool> m_extraFlag;
    DriverProperty<VX9BSM0_SWEEP_PARAMS_t> m_sweepParams;
    DriverCommand m_command49;
    DriverCommand m_command50;
};

Q_DECLARE_METATYPE(SisBiasSourceDriverM0*)
