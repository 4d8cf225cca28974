#include "sspddriverm0.h"

#include "compositefield.h"
#include "driverslog.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
} // namespace

SspdDriverM0::SspdDriverM0(QObject* parent)
    : CommonDriver(parent), m_data(this, CodeData, None),
      m_current(this, CodeCurrentRead, CodeCurrentWrite), m_voltage(this, CodeVoltage, None),
      m_counts(this, CodeCounts, None), m_status(this, CodeStatusRead, CodeStatusWrite),
      m_shortEnable(this, None, CodeShortEnable),
      m_amplifierEnable(this, None, CodeAmplifierEnable),
      m_rfKeyToComparator(this, None, CodeRfKeyToComparator),
      m_comparatorEnable(this, None, CodeComparatorEnable),
      m_counterEnable(this, None, CodeCounterEnable),
      m_autoResetEnable(this, None, CodeAutoResetEnable),
      m_params(this, CodeParamsRead, CodeParamsWrite),
      m_cmpRefLevel(this, CodeCmpRefLevelRead, CodeCmpRefLevelWrite),
      m_timeConst(this, CodeTimeConstRead, CodeTimeConstWrite),
      m_autoResetThreshold(this, CodeAutoResetThresholdRead, CodeAutoResetThresholdWrite),
      m_autoResetTimeOut(this, CodeAutoResetTimeOutRead, CodeAutoResetTimeOutWrite),
      m_autoResetCounts(this, CodeAutoResetCountsRead, CodeAutoResetCountsWrite),
      m_eepromConst(this, CodeEepromConstRead, CodeEepromConstWrite),
      m_currentAdcCoeffs(this, CodeCurrentAdcCoeffsRead, CodeCurrentAdcCoeffsWrite),
      m_voltageAdcCoeffs(this, CodeVoltageAdcCoeffsRead, CodeVoltageAdcCoeffsWrite),
      m_currentDacCoeffs(this, CodeCurrentDacCoeffsRead, CodeCurrentDacCoeffsWrite),
      m_cmpRefDacCoeffs(this, CodeCmpRefDacCoeffsRead, CodeCmpRefDacCoeffsWrite),
      m_auxFlag(this, CodeAuxFlagRead, CodeAuxFlagWrite)
{
    const auto toData = [this](const VX9SDM0V1_Data_t& d) { updateData(d); };
    const auto toParams = [this](const VX9SDM0V1_Param_t& p) { updateParams(p); };
    const auto toEeprom = [this](const VX9SDM0V1_EEPROM_Const_t& e) { updateEEPROM(e); };

    m_data.answerCallbacks()->add([this] {
        const VX9SDM0V1_Data_t d = m_data.cached();
        m_current.setCached(d.current);
        m_voltage.setCached(d.voltage);
        m_counts.setCached(d.counts);
        m_status.setCached(d.status);
        updateData(d);
    });
    followField(&m_current, &m_data, &VX9SDM0V1_Data_t::current, toData);
    followField(&m_voltage, &m_data, &VX9SDM0V1_Data_t::voltage, toData);
    followField(&m_counts, &m_data, &VX9SDM0V1_Data_t::counts, toData);
    m_status.answerCallbacks()->add([this] { updateStatus(m_status.cached()); });
    m_status.writeCallbacks()->add([this] {
        if (!valueWritten(&m_status)) {
            qCDebug(lcDrivers) << "address" << address() << "status acknowledged, no write known";
            return;
        }
        updateStatus(m_status.lastWritten());
    });
    followSwitch(&m_shortEnable, 1);
    followSwitch(&m_amplifierEnable, 2);
    followSwitch(&m_rfKeyToComparator, 3);
    followSwitch(&m_comparatorEnable, 4);
    followSwitch(&m_counterEnable, 5);
    followSwitch(&m_autoResetEnable, 6);

    m_params.answerCallbacks()->add([this] {
        const VX9SDM0V1_Param_t p = m_params.cached();
        m_cmpRefLevel.setCached(p.cmpRefLevel);
        m_timeConst.setCached(p.timeConst);
        m_autoResetThreshold.setCached(p.autoResetThreshold);
        m_autoResetTimeOut.setCached(p.autoResetTimeOut);
        m_autoResetCounts.setCached(p.autoResetCounts);
        updateParams(p);
    });
    followField(&m_cmpRefLevel, &m_params, &VX9SDM0V1_Param_t::cmpRefLevel, toParams);
    followField(&m_timeConst, &m_params, &VX9SDM0V1_Param_t::timeConst, toParams);
    followField(&m_autoResetThreshold, &m_params, &VX9SDM0V1_Param_t::autoResetThreshold, toParams);
    followField(&m_autoResetTimeOut, &m_params, &VX9SDM0V1_Param_t::autoResetTimeOut, toParams);
    followField(&m_autoResetCounts, &m_params, &VX9SDM0V1_Param_t::autoResetCounts, toParams);

    m_eepromConst.answerCallbacks()->add([this] {
        const VX9SDM0V1_EEPROM_Const_t e = m_eepromConst.cached();
        m_currentAdcCoeffs.setCached(e.currentAdc);
        m_currentDacCoeffs.setCached(e.currentDac);
        m_voltageAdcCoeffs.setCached(e.voltageAdc);
        m_cmpRefDacCoeffs.setCached(e.cmpRefDac);
        updateEEPROM(e);
    });
    followField(&m_currentAdcCoeffs, &m_eepromConst, &VX9SDM0V1_EEPROM_Const_t::currentAdc,
                toEeprom);
    followField(&m_voltageAdcCoeffs, &m_eepromConst, &VX9SDM0V1_EEPROM_Const_t::voltageAdc,
                toEeprom);
    followField(&m_currentDacCoeffs, &m_eepromConst, &VX9SDM0V1_EEPROM_Const_t::currentDac,
                toEeprom);
    followField(&m_cmpRefDacCoeffs, &m_eepromConst, &VX9SDM0V1_EEPROM_Const_t::cmpRefDac, toEeprom);
}

// An acknowledged switch changes its bit of the status the module last reported, not of
// the result of an earlier acknowledgement: what the module reports stays the reference.
void SspdDriverM0::followSwitch(DriverPropertyWriteOnly<bool>* control, int bit)
{
    control->writeCallbacks()->add([this, control, bit] {
        const quint8 mask = quint8(1u << bit);
        const quint8 reported = m_status.cached().toByte();
        const quint8 byte =
            control->lastWritten() ? quint8(reported | mask) : quint8(reported & ~mask);
        updateStatus(VX9SDM0_Status_t::fromByte(byte));
    });
}

void SspdDriverM0::updateData(VX9SDM0V1_Data_t data)
{
    m_data.setCached(data);
    emit dataUpdated(data);
}

void SspdDriverM0::updateStatus(VX9SDM0_Status_t status)
{
    VX9SDM0V1_Data_t data = m_data.cached();
    data.status = status;
    updateData(data);
}

void SspdDriverM0::updateParams(VX9SDM0V1_Param_t params)
{
    m_params.setCached(params);
    emit paramsUpdated(params);
}

void SspdDriverM0::updateEEPROM(VX9SDM0V1_EEPROM_Const_t eeprom)
{
    m_eepromConst.setCached(eeprom);
    emit eepromConstUpdated(eeprom);
}
