#pragma once
// Driver of the SIS control line: its live data and EEPROM constants, each value readable on
// its own and inside a composite that answer callbacks keep in step with the single values.
#include "commondriver.h"
#include "pair.h"
#include "structures/sisstructs.h"

class SisControlLineDriverM0 : public CommonDriver
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit SisControlLineDriverM0(QObject* parent = nullptr);

    DriverPropertyReadOnly<VX9CLM0V0_Data_t>* data() { return &m_data; }
    DriverProperty<float>* floatValue() { return &m_floatValue; }
    DriverProperty<bool>* flag() { return &m_flag; }
    DriverProperty<VX9CLM0V0_EEPROM_Const_t>* eepromConst() { return &m_eepromConst; }
    DriverProperty<pair_t<float>>* pair0() { return &m_pair0; }
    DriverProperty<pair_t<float>>* pair1() { return &m_pair1; }
    DriverProperty<pair_t<float>>* pair2() { return &m_pair2; }
    DriverProperty<float>* const0() { return &m_const0; }
    DriverProperty<bool>* extraFlag() { return &m_extraFlag; }

signals:
    void dataUpdated(VX9CLM0V0_Data_t data);
    void eepromConstUpdated(VX9CLM0V0_EEPROM_Const_t eeprom);

private slots:
    void updateData(VX9CLM0V0_Data_t data);
    void updateEEPROM(VX9CLM0V0_EEPROM_Const_t eeprom);

private:
    DriverPropertyReadOnly<VX9CLM0V0_Data_t> m_data;
    DriverProperty<float> m_floatValue;
    DriverProperty<bool> m_flag;
    DriverProperty<VX9CLM0V0_EEPROM_Const_t> m_eepromConst;
    DriverProperty<pair_t<float>> m_pair0;
    DriverProperty<pair_t<float>> m_pair1;
    DriverProperty<pair_t<float>> m_pair2;
    DriverProperty<float> m_const0;
    DriverProperty<bool> m_extraFlag;
};

Q_DECLARE_METATYPE(SisControlLineDriverM0*)
