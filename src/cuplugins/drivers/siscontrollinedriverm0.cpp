#include "siscontrollinedriverm0.h"

#include "compositefield.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
} // namespace

// extraFlag answers to 21/22, between the data and EEPROM codes, but belongs to neither
// composite.
SisControlLineDriverM0::SisControlLineDriverM0(QObject* parent)
    : CommonDriver(parent), m_data(this, 16, None), m_floatValue(this, 17, 18),
      m_flag(this, 19, 20), m_eepromConst(this, 23, 24), m_pair0(this, 25, 26),
      m_pair1(this, 27, 28), m_pair2(this, 29, 30), m_const0(this, 31, 32),
      m_extraFlag(this, 21, 22)
{
    using Data = VX9CLM0V0_Data_t;
    using Eeprom = VX9CLM0V0_EEPROM_Const_t;
    const auto publishData = [this](const Data& d) { updateData(d); };
    const auto publishEeprom = [this](const Eeprom& e) { updateEEPROM(e); };

    m_data.answerCallbacks()->add([this] {
        const Data d = m_data.cached();
        m_floatValue.setCached(d.floatValue);
        m_flag.setCached(d.flag);
        updateData(d);
    });
    followField(&m_floatValue, &m_data, &Data::floatValue, publishData);
    followField(&m_flag, &m_data, &Data::flag, publishData);

    m_eepromConst.answerCallbacks()->add([this] {
        const Eeprom e = m_eepromConst.cached();
        m_pair0.setCached(e.pair0);
        m_pair1.setCached(e.pair1);
        m_pair2.setCached(e.pair2);
        m_const0.setCached(e.const0);
        updateEEPROM(e);
    });
    followField(&m_pair0, &m_eepromConst, &Eeprom::pair0, publishEeprom);
    followField(&m_pair1, &m_eepromConst, &Eeprom::pair1, publishEeprom);
    followField(&m_pair2, &m_eepromConst, &Eeprom::pair2, publishEeprom);
    followField(&m_const0, &m_eepromConst, &Eeprom::const0, publishEeprom);
}

void SisControlLineDriverM0::updateData(VX9CLM0V0_Data_t data)
{
    m_data.setCached(data);
    emit dataUpdated(data);
}

void SisControlLineDriverM0::updateEEPROM(VX9CLM0V0_EEPROM_Const_t eeprom)
{
    m_eepromConst.setCached(eeprom);
    emit eepromConstUpdated(eeprom);
}
