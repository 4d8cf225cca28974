#include "heaterdriverm0.h"

#include "compositefield.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
} // namespace

HeaterDriverM0::HeaterDriverM0(QObject* parent)
    : CommonDriver(parent), m_data(this, 16, None), m_floatValue(this, 17, 18),
      m_byte0(this, 19, 20), m_byte1(this, 21, 22), m_eepromConst(this, 23, 24),
      m_pair0(this, 33, 34), m_pair1(this, 35, 36), m_const0(this, 25, 26), m_const1(this, 27, 28),
      m_const2(this, 29, 30), m_const3(this, 31, 32), m_command13(this, None, 13),
      m_command14(this, None, 14)
{
    using Data = VX9HTM0V0_Data_t;
    using Eeprom = VX9HT0V0_EEPROM_Const_t;
    const auto publishData = [this](const Data& d) { updateData(d); };
    const auto publishEeprom = [this](const Eeprom& e) { updateEEPROM(e); };

    m_data.answerCallbacks()->add([this] {
        const Data d = m_data.cached();
        m_byte0.setCached(d.byte0);
        m_byte1.setCached(d.byte1);
        m_floatValue.setCached(d.floatValue);
        updateData(d);
    });
    followField(&m_floatValue, &m_data, &Data::floatValue, publishData);
    followField(&m_byte0, &m_data, &Data::byte0, publishData);
    followField(&m_byte1, &m_data, &Data::byte1, publishData);

    m_eepromConst.answerCallbacks()->add([this] {
        const Eeprom e = m_eepromConst.cached();
        m_pair0.setCached(e.pair0);
        m_pair1.setCached(e.pair1);
        m_const0.setCached(e.const0);
        m_const1.setCached(e.const1);
        m_const2.setCached(e.const2);
        m_const3.setCached(e.const3);
        updateEEPROM(e);
    });
    followField(&m_pair0, &m_eepromConst, &Eeprom::pair0, publishEeprom);
    followField(&m_pair1, &m_eepromConst, &Eeprom::pair1, publishEeprom);
    followField(&m_const0, &m_eepromConst, &Eeprom::const0, publishEeprom);
    followField(&m_const1, &m_eepromConst, &Eeprom::const1, publishEeprom);
    followField(&m_const2, &m_eepromConst, &Eeprom::const2, publishEeprom);
    followField(&m_const3, &m_eepromConst, &Eeprom::const3, publishEeprom);
}

void HeaterDriverM0::updateData(VX9HTM0V0_Data_t data)
{
    m_data.setCached(data);
    emit dataUpdated(data);
}

void HeaterDriverM0::updateEEPROM(VX9HT0V0_EEPROM_Const_t eeprom)
{
    m_eepromConst.setCached(eeprom);
    emit eepromConstUpdated(eeprom);
}
