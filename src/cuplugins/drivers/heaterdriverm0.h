#pragma once
// Driver of the heater module: its live data and EEPROM constants, each value readable on
// its own and inside a composite that answer callbacks keep in step with the single values.
#include "commondriver.h"
#include "pair.h"
#include "structures/heaterstructs.h"

class HeaterDriverM0 : public CommonDriver
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit HeaterDriverM0(QObject* parent = nullptr);

    DriverPropertyReadOnly<VX9HTM0V0_Data_t>* data() { return &m_data; }
    DriverProperty<float>* floatValue() { return &m_floatValue; }
    DriverProperty<char>* byte0() { return &m_byte0; }
    DriverProperty<char>* byte1() { return &m_byte1; }
    DriverProperty<VX9HT0V0_EEPROM_Const_t>* eepromConst() { return &m_eepromConst; }
    DriverProperty<pair_t<float>>* pair0() { return &m_pair0; }
    DriverProperty<pair_t<float>>* pair1() { return &m_pair1; }
    DriverProperty<float>* const0() { return &m_const0; }
    DriverProperty<float>* const1() { return &m_const1; }
    DriverProperty<float>* const2() { return &m_const2; }
    DriverProperty<float>* const3() { return &m_const3; }
    DriverCommand* command13() { return &m_command13; }
    DriverCommand* command14() { return &m_command14; }

signals:
    void dataUpdated(VX9HTM0V0_Data_t data);
    void eepromConstUpdated(VX9HT0V0_EEPROM_Const_t eeprom);

private slots:
    void updateData(VX9HTM0V0_Data_t data);
    void updateEEPROM(VX9HT0V0_EEPROM_Const_t eeprom);

private:
    DriverPropertyReadOnly<VX9HTM0V0_Data_t> m_data;
    DriverProperty<float> m_floatValue;
    DriverProperty<char> m_byte0;
    DriverProperty<char> m_byte1;
    DriverProperty<VX9HT0V0_EEPROM_Const_t> m_eepromConst;
    DriverProperty<pair_t<float>> m_pair0;
    DriverProperty<pair_t<float>> m_pair1;
    DriverProperty<float> m_const0;
    DriverProperty<float> m_const1;
    DriverProperty<float> m_const2;
    DriverProperty<float> m_const3;
    DriverCommand m_command13;
    DriverCommand m_command14;
};

Q_DECLARE_METATYPE(HeaterDriverM0*)
