#include "tempdriverm0.h"

#include "compositefield.h"
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
    const auto toData = [this](const VX9TDM0V1_Data_t& d) { updateData(d); };
    const auto toEeprom = [this](const VX9TDM0V1_EEPROM_Const_t& e) { updateEEPROM(e); };

    m_data.answerCallbacks()->add([this] { onDataAnswered(); });
    followField(&m_temperature, &m_data, &VX9TDM0V1_Data_t::temperature, toData);
    followField(&m_pressure, &m_data, &VX9TDM0V1_Data_t::pressure, toData);
    followField(&m_tempSensorCurrent, &m_data, &VX9TDM0V1_Data_t::tempSensorCurrent, toData);
    followField(&m_tempSensorVoltage, &m_data, &VX9TDM0V1_Data_t::tempSensorVoltage, toData);
    followField(&m_pressSensorVoltageP, &m_data, &VX9TDM0V1_Data_t::pressSensorVoltageP, toData);
    followField(&m_pressSensorVoltageN, &m_data, &VX9TDM0V1_Data_t::pressSensorVoltageN, toData);
    m_commutator.answerCallbacks()->add([this] {
        const QByteArray bytes = m_commutator.receivedData();
        m_commutator.setCached(bytes.at(0) != 0);
    });
    followField(&m_commutator, &m_data, &VX9TDM0V1_Data_t::commutator, toData);

    m_eepromConst.answerCallbacks()->add([this] { onEepromAnswered(); });
    followField(&m_tempSensorCurrentAdcCoeffs, &m_eepromConst,
                &VX9TDM0V1_EEPROM_Const_t::tempSensorCurrentAdc, toEeprom);
    followField(&m_tempSensorCurrentDacCoeffs, &m_eepromConst,
                &VX9TDM0V1_EEPROM_Const_t::tempSensorCurrentDac, toEeprom);
    followField(&m_tempSensorVoltageCoeffs, &m_eepromConst,
                &VX9TDM0V1_EEPROM_Const_t::tempSensorVoltage, toEeprom);
    followField(&m_pressSensorVoltagePCoeffs, &m_eepromConst,
                &VX9TDM0V1_EEPROM_Const_t::pressSensorVoltageP, toEeprom);
    followField(&m_pressSensorVoltageNCoeffs, &m_eepromConst,
                &VX9TDM0V1_EEPROM_Const_t::pressSensorVoltageN, toEeprom);
    followField(&m_pressSensorCoeffs, &m_eepromConst, &VX9TDM0V1_EEPROM_Const_t::pressSensorCoeffs,
                toEeprom);
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
