#include "sisbiassourcedriverm0.h"

#include "compositefield.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
} // namespace

// The module's EEPROM codes do not follow the field order: pair5 answers to 41 (between
// const0 and const1), and extraFlag sits at 25/26 outside every composite.
SisBiasSourceDriverM0::SisBiasSourceDriverM0(QObject* parent)
    : CommonDriver(parent), m_data(this, 16, None), m_value0(this, 17, 18), m_value1(this, 19, 20),
      m_flag(this, 21, 22), m_modeByte(this, 23, 24), m_eepromConst(this, 27, 28),
      m_pair0(this, 29, 30), m_pair2(this, 33, 34), m_pair4(this, 37, 38), m_const0(this, 39, 40),
      m_pair1(this, 31, 32), m_pair3(this, 35, 36), m_pair5(this, 41, 42), m_const1(this, 43, 44),
      m_const2(this, 45, 46), m_extraFlag(this, 25, 26), m_sweepParams(this, 47, 48),
      m_command49(this, None, 49), m_command50(this, None, 50)
{
    using Data = VX9BSM0_Data_t;
    using Eeprom = VX9BSM0V0_EEPROM_Const_t;
    const auto publishData = [this](const Data& d) { updateData(d); };
    const auto publishEeprom = [this](const Eeprom& e) { updateEEPROM(e); };

    m_data.answerCallbacks()->add([this] {
        const Data d = m_data.cached();
        m_value0.setCached(d.value0);
        m_value1.setCached(d.value1);
        m_flag.setCached(d.flag);
        m_modeByte.setCached(d.modeByte);
        updateData(d);
    });
    followField(&m_value0, &m_data, &Data::value0, publishData);
    followField(&m_value1, &m_data, &Data::value1, publishData);
    followField(&m_flag, &m_data, &Data::flag, publishData);
    followField(&m_modeByte, &m_data, &Data::modeByte, publishData);

    m_eepromConst.answerCallbacks()->add([this] {
        const Eeprom e = m_eepromConst.cached();
        m_pair0.setCached(e.pair0);
        m_pair1.setCached(e.pair1);
        m_pair2.setCached(e.pair2);
        m_pair3.setCached(e.pair3);
        m_pair4.setCached(e.pair4);
        m_pair5.setCached(e.pair5);
        m_const0.setCached(e.const0);
        m_const1.setCached(e.const1);
        m_const2.setCached(e.const2);
        updateEEPROM(e);
    });
    followField(&m_pair0, &m_eepromConst, &Eeprom::pair0, publishEeprom);
    followField(&m_pair2, &m_eepromConst, &Eeprom::pair2, publishEeprom);
    followField(&m_pair4, &m_eepromConst, &Eeprom::pair4, publishEeprom);
    followField(&m_const0, &m_eepromConst, &Eeprom::const0, publishEeprom);
    followField(&m_pair1, &m_eepromConst, &Eeprom::pair1, publishEeprom);
    followField(&m_pair3, &m_eepromConst, &Eeprom::pair3, publishEeprom);
    followField(&m_pair5, &m_eepromConst, &Eeprom::pair5, publishEeprom);
    followField(&m_const1, &m_eepromConst, &Eeprom::const1, publishEeprom);
    followField(&m_const2, &m_eepromConst, &Eeprom::const2, publishEeprom);
}

void SisBiasSourceDriverM0::updateData(VX9BSM0_Data_t data)
{
    m_data.setCached(data);
    emit dataUpdated(data);
}

void SisBiasSourceDriverM0::updateEEPROM(VX9BSM0V0_EEPROM_Const_t eeprom)
{
    m_eepromConst.setCached(eeprom);
    emit eepromConstUpdated(eeprom);
}
