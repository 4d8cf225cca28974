#include "tempdriverm0.h"

#include "driverslog.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
constexpr int EntrySize = int(sizeof(pair_t<float>));
constexpr int CommutatorOffset = int(offsetof(VX9TDM0V1_Data_t, commutator));

// A module may send any non-zero byte for "on"; a bool must only ever hold 0 or 1.
VX9TDM0V1_Data_t decodeData(QByteArray bytes)
{
    if (bytes.size() > CommutatorOffset)
        bytes[CommutatorOffset] = bytes.at(CommutatorOffset) != 0;
    return DriverValue<VX9TDM0V1_Data_t>::decode(bytes);
}
} // namespace

TempDriverM0::TempDriverM0(QObject* parent)
    : CommonDriver(parent), m_data(this, CodeData, None),
      m_temperature(this, CodeTemperature, None), m_pressure(this, CodePressure, None),
      m_tempSensorCurrent(this, CodeTempSensorCurrent, CodeSetTempSensorCurrent),
      m_tempSensorVoltage(this, CodeTempSensorVoltage, None),
      m_pressSensorVoltageP(this, CodePressSensorVoltageP, None),
      m_pressSensorVoltageN(this, CodePressSensorVoltageN, None),
      m_commutator(this, CodeCommutator, CodeSetCommutator),
      m_eepromConst(this, CodeEepromConst, CodeSetEepromConst),
      m_tempSensorCurrentAdcCoeffs(this, CodeTempSensorCurrentAdcCoeffs,
                                   CodeTempSensorCurrentAdcCoeffs + 1),
      m_tempSensorCurrentDacCoeffs(this, CodeTempSensorCurrentDacCoeffs,
                                   CodeTempSensorCurrentDacCoeffs + 1),
      m_tempSensorVoltageCoeffs(this, CodeTempSensorVoltageCoeffs, CodeTempSensorVoltageCoeffs + 1),
      m_pressSensorVoltagePCoeffs(this, CodePressSensorVoltagePCoeffs,
                                  CodePressSensorVoltagePCoeffs + 1),
      m_pressSensorVoltageNCoeffs(this, CodePressSensorVoltageNCoeffs,
                                  CodePressSensorVoltageNCoeffs + 1),
      m_pressSensorCoeffs(this, CodePressSensorCoeffs, CodePressSensorCoeffs + 1),
      m_tempTableProperty(this, CodeReadTempTable, CodeWriteTempTable)
{
    m_data.answerCallbacks()->add([this] { onDataAnswered(); });
    keepInData(&m_temperature, &VX9TDM0V1_Data_t::temperature);
    keepInData(&m_pressure, &VX9TDM0V1_Data_t::pressure);
    keepInData(&m_tempSensorCurrent, &VX9TDM0V1_Data_t::tempSensorCurrent);
    keepInData(&m_tempSensorVoltage, &VX9TDM0V1_Data_t::tempSensorVoltage);
    keepInData(&m_pressSensorVoltageP, &VX9TDM0V1_Data_t::pressSensorVoltageP);
    keepInData(&m_pressSensorVoltageN, &VX9TDM0V1_Data_t::pressSensorVoltageN);
    m_commutator.answerCallbacks()->add([this] {
        const QByteArray bytes = m_commutator.receivedData();
        m_commutator.setCached(bytes.at(0) != 0);
    });
    keepInData(&m_commutator, &VX9TDM0V1_Data_t::commutator);

    m_eepromConst.answerCallbacks()->add([this] { onEepromAnswered(); });
    keepInEeprom(&m_tempSensorCurrentAdcCoeffs, &VX9TDM0V1_EEPROM_Const_t::tempSensorCurrentAdc);
    keepInEeprom(&m_tempSensorCurrentDacCoeffs, &VX9TDM0V1_EEPROM_Const_t::tempSensorCurrentDac);
    keepInEeprom(&m_tempSensorVoltageCoeffs, &VX9TDM0V1_EEPROM_Const_t::tempSensorVoltage);
    keepInEeprom(&m_pressSensorVoltagePCoeffs, &VX9TDM0V1_EEPROM_Const_t::pressSensorVoltageP);
    keepInEeprom(&m_pressSensorVoltageNCoeffs, &VX9TDM0V1_EEPROM_Const_t::pressSensorVoltageN);
    keepInEeprom(&m_pressSensorCoeffs, &VX9TDM0V1_EEPROM_Const_t::pressSensorCoeffs);
}

template <typename T, typename P>
void TempDriverM0::keepInData(P* property, T VX9TDM0V1_Data_t::*field)
{
    property->answerCallbacks()->add([this, property, field] {
        VX9TDM0V1_Data_t d = m_data.cached();
        d.*field = property->cached();
        updateData(d);
    });
}

void TempDriverM0::keepInEeprom(DriverProperty<pair_t<float>>* property,
                                pair_t<float> VX9TDM0V1_EEPROM_Const_t::*field)
{
    property->answerCallbacks()->add([this, property, field] {
        VX9TDM0V1_EEPROM_Const_t e = m_eepromConst.cached();
        e.*field = property->cached();
        updateEEPROM(e);
    });
}

void TempDriverM0::onDataAnswered()
{
    const VX9TDM0V1_Data_t d = decodeData(m_data.receivedData());
    m_temperature.setCached(d.temperature);
    m_pressure.setCached(d.pressure);
    m_tempSensorCurrent.setCached(d.tempSensorCurrent);
    m_tempSensorVoltage.setCached(d.tempSensorVoltage);
    m_pressSensorVoltageP.setCached(d.pressSensorVoltageP);
    m_pressSensorVoltageN.setCached(d.pressSensorVoltageN);
    m_commutator.setCached(d.commutator);
    updateData(d);
}

void TempDriverM0::onEepromAnswered()
{
    const VX9TDM0V1_EEPROM_Const_t e = m_eepromConst.cached();
    m_tempSensorCurrentAdcCoeffs.setCached(e.tempSensorCurrentAdc);
    m_tempSensorCurrentDacCoeffs.setCached(e.tempSensorCurrentDac);
    m_tempSensorVoltageCoeffs.setCached(e.tempSensorVoltage);
    m_pressSensorVoltagePCoeffs.setCached(e.pressSensorVoltageP);
    m_pressSensorVoltageNCoeffs.setCached(e.pressSensorVoltageN);
    m_pressSensorCoeffs.setCached(e.pressSensorCoeffs);
    updateEEPROM(e);
}

void TempDriverM0::updateData(VX9TDM0V1_Data_t data)
{
    m_data.setCached(data);
    emit dataUpdated(data);
}

void TempDriverM0::updateEEPROM(VX9TDM0V1_EEPROM_Const_t eeprom)
{
    m_eepromConst.setCached(eeprom);
    emit eepromConstUpdated(eeprom);
}

bool TempDriverM0::writeTempTable()
{
    for (int start = 0; start < TableSize; start += TableChunk) {
        const int count = std::min(TableSize - start, TableChunk);
        QByteArray chunk;
        chunk.append(char(start));
        chunk.append(char(count));
        chunk.append(reinterpret_cast<const char*>(&m_tempTable[start]), count * EntrySize);
        bool ok = false;
        m_tempTableProperty.exchange(CodeWriteTempTable, chunk, &ok, TableTries);
        if (!ok) {
            qCDebug(lcDrivers) << "temperature table chunk" << start << "not acknowledged";
            return false;
        }
    }
    return true;
}

bool TempDriverM0::readTempTable()
{
    for (int start = 0; start < TableSize; start += TableChunk) {
        const int count = std::min(TableSize - start, TableChunk);
        QByteArray request;
        request.append(char(start));
        request.append(char(count));
        // Whatever ends the wait, only this chunk's answer may fill this chunk's entries,
        // never the one before it.
        m_tempTableProperty.setReceivedData({});
        bool ok = false;
        const QByteArray answer =
            m_tempTableProperty.exchange(CodeReadTempTable, request, &ok, TableTries);
        if (!ok) {
            qCDebug(lcDrivers) << "temperature table chunk" << start << "not answered";
            return false;
        }
        const int entries = std::min(count, int(answer.size() / EntrySize));
        for (int i = 0; i < entries; ++i)
            std::memcpy(static_cast<void*>(&m_tempTable[start + i]),
                        answer.constData() + i * EntrySize, EntrySize);
        if (entries < count) {
            qCDebug(lcDrivers) << "temperature table chunk" << start << "answered" << entries
                               << "of" << count << "entries";
            return false;
        }
    }
    return true;
}
