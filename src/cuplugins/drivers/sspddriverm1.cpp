#include "sspddriverm1.h"

#include "driverslog.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;

// When a single property is answered, its field of the cached composite takes the answered
// value and the composite is published again.
template <typename Single, typename Composite, typename Member, typename Update>
void mirrorIntoComposite(Single* single, Composite* composite, Member field, Update update)
{
    single->answerCallbacks()->add([=] {
        auto value = composite->cached();
        value.*field = single->cached();
        update(value);
    });
}

// True when the last packet sent through p carried a value. After a read request through
// the same property the written value is no longer known (lastWritten() reads zero), so a
// late or stray acknowledgement must not be taken for one of that value.
template <typename T> bool valueWritten(DriverProperty<T>* p)
{
    return p->lastSentData().size() == DriverValue<T>::size;
}
} // namespace

SspdDriverM1::SspdDriverM1(QObject* parent)
    : CommonDriver(parent),
      m_data(new DriverPropertyReadOnly<VX9SDM1_Data_t>(this, CodeData, None)),
      m_current(new DriverProperty<float>(this, CodeCurrentRead, CodeCurrentWrite)),
      m_currentMonitor(new DriverPropertyReadOnly<float>(this, CodeCurrentMonitor, None)),
      m_voltage(new DriverPropertyReadOnly<float>(this, CodeVoltage, None)),
      m_counts(new DriverPropertyReadOnly<float>(this, CodeCounts, None)),
      m_status(new DriverProperty<VX9SDM1_Status_t>(this, CodeStatusRead, CodeStatusWrite)),
      m_shortEnable(new DriverPropertyWriteOnly<bool>(this, None, CodeShortEnable)),
      m_amplifierEnable(new DriverPropertyWriteOnly<bool>(this, None, CodeAmplifierEnable)),
      m_hfModeEnable(new DriverPropertyWriteOnly<bool>(this, None, CodeHfModeEnable)),
      m_comparatorEnable(new DriverPropertyWriteOnly<bool>(this, None, CodeComparatorEnable)),
      m_counterEnable(new DriverPropertyWriteOnly<bool>(this, None, CodeCounterEnable)),
      m_autoResetEnable(new DriverPropertyWriteOnly<bool>(this, None, CodeAutoResetEnable)),
      m_params(new DriverProperty<VX9SDM1_Param_t>(this, CodeParamsRead, CodeParamsWrite)),
      m_cmpRefLevel(new DriverProperty<float>(this, CodeCmpRefLevelRead, CodeCmpRefLevelWrite)),
      m_timeConst(new DriverProperty<float>(this, CodeTimeConstRead, CodeTimeConstWrite)),
      m_autoResetThreshold(
          new DriverProperty<float>(this, CodeAutoResetThresholdRead, CodeAutoResetThresholdWrite)),
      m_autoResetTimeOut(
          new DriverProperty<float>(this, CodeAutoResetTimeOutRead, CodeAutoResetTimeOutWrite)),
      m_autoResetCounts(
          new DriverProperty<quint32>(this, CodeAutoResetCountsRead, CodeAutoResetCountsWrite)),
      m_eepromConst(new DriverProperty<VX9SDM1_EEPROM_Const_t>(this, CodeEepromConstRead,
                                                               CodeEepromConstWrite)),
      m_currentAdcCoeffs(new DriverProperty<pair_t<float>>(this, CodeCurrentAdcCoeffsRead,
                                                           CodeCurrentAdcCoeffsWrite)),
      m_currentMonitorAdcCoeffs(new DriverProperty<pair_t<float>>(
          this, CodeCurrentMonitorAdcCoeffsRead, CodeCurrentMonitorAdcCoeffsWrite)),
      m_voltageAdcCoeffs(new DriverProperty<pair_t<float>>(this, CodeVoltageAdcCoeffsRead,
                                                           CodeVoltageAdcCoeffsWrite)),
      m_currentDacCoeffs(new DriverProperty<pair_t<float>>(this, CodeCurrentDacCoeffsRead,
                                                           CodeCurrentDacCoeffsWrite)),
      m_cmpRefDacCoeffs(new DriverProperty<pair_t<float>>(this, CodeCmpRefDacCoeffsRead,
                                                          CodeCmpRefDacCoeffsWrite)),
      m_pulseWidth(new DriverProperty<float>(this, CodePulseWidthRead, CodePulseWidthWrite)),
      m_auxFlag(new DriverProperty<bool>(this, CodeAuxFlagRead, CodeAuxFlagWrite))
{
    const auto toData = [this](const VX9SDM1_Data_t& d) { updateData(d); };
    const auto toParams = [this](const VX9SDM1_Param_t& p) { updateParams(p); };
    const auto toEeprom = [this](const VX9SDM1_EEPROM_Const_t& e) { updateEEPROM(e); };

    m_data->answerCallbacks()->add([this] {
        const VX9SDM1_Data_t d = m_data->cached();
        m_current->setCached(d.current);
        m_currentMonitor->setCached(d.currentMonitor);
        m_voltage->setCached(d.voltage);
        m_counts->setCached(d.counts);
        m_status->setCached(d.status);
        updateData(d);
    });
    mirrorIntoComposite(m_current, m_data, &VX9SDM1_Data_t::current, toData);
    // Unlike model 0, an acknowledged bias current is taken into the live data at once.
    m_current->writeCallbacks()->add([this] {
        if (!valueWritten(m_current)) {
            qCDebug(lcDrivers) << "address" << address() << "current acknowledged, no write known";
            return;
        }
        VX9SDM1_Data_t d = m_data->cached();
        d.current = m_current->lastWritten();
        updateData(d);
    });
    mirrorIntoComposite(m_currentMonitor, m_data, &VX9SDM1_Data_t::currentMonitor, toData);
    mirrorIntoComposite(m_voltage, m_data, &VX9SDM1_Data_t::voltage, toData);
    mirrorIntoComposite(m_counts, m_data, &VX9SDM1_Data_t::counts, toData);
    m_status->answerCallbacks()->add([this] { updateStatus(m_status->cached()); });
    m_status->writeCallbacks()->add([this] {
        if (!valueWritten(m_status)) {
            qCDebug(lcDrivers) << "address" << address() << "status acknowledged, no write known";
            return;
        }
        updateStatus(m_status->lastWritten());
    });
    followSwitch(m_shortEnable, 1);
    followSwitch(m_amplifierEnable, 2);
    followSwitch(m_hfModeEnable, 3);
    followSwitch(m_comparatorEnable, 4);
    followSwitch(m_counterEnable, 5);
    followSwitch(m_autoResetEnable, 6);

    m_params->answerCallbacks()->add([this] {
        const VX9SDM1_Param_t p = m_params->cached();
        m_cmpRefLevel->setCached(p.cmpRefLevel);
        m_timeConst->setCached(p.timeConst);
        m_autoResetThreshold->setCached(p.autoResetThreshold);
        m_autoResetTimeOut->setCached(p.autoResetTimeOut);
        m_autoResetCounts->setCached(p.autoResetCounts);
        updateParams(p);
    });
    mirrorIntoComposite(m_cmpRefLevel, m_params, &VX9SDM1_Param_t::cmpRefLevel, toParams);
    mirrorIntoComposite(m_timeConst, m_params, &VX9SDM1_Param_t::timeConst, toParams);
    mirrorIntoComposite(m_autoResetThreshold, m_params, &VX9SDM1_Param_t::autoResetThreshold,
                        toParams);
    mirrorIntoComposite(m_autoResetTimeOut, m_params, &VX9SDM1_Param_t::autoResetTimeOut, toParams);
    mirrorIntoComposite(m_autoResetCounts, m_params, &VX9SDM1_Param_t::autoResetCounts, toParams);

    m_eepromConst->answerCallbacks()->add([this] {
        const VX9SDM1_EEPROM_Const_t e = m_eepromConst->cached();
        m_currentAdcCoeffs->setCached(e.currentAdc);
        m_currentMonitorAdcCoeffs->setCached(e.currentMonitorAdc);
        m_currentDacCoeffs->setCached(e.currentDac);
        m_voltageAdcCoeffs->setCached(e.voltageAdc);
        m_cmpRefDacCoeffs->setCached(e.cmpRefDac);
        m_pulseWidth->setCached(e.pulseWidth);
        updateEEPROM(e);
    });
    mirrorIntoComposite(m_currentAdcCoeffs, m_eepromConst, &VX9SDM1_EEPROM_Const_t::currentAdc,
                        toEeprom);
    mirrorIntoComposite(m_currentMonitorAdcCoeffs, m_eepromConst,
                        &VX9SDM1_EEPROM_Const_t::currentMonitorAdc, toEeprom);
    mirrorIntoComposite(m_voltageAdcCoeffs, m_eepromConst, &VX9SDM1_EEPROM_Const_t::voltageAdc,
                        toEeprom);
    mirrorIntoComposite(m_currentDacCoeffs, m_eepromConst, &VX9SDM1_EEPROM_Const_t::currentDac,
                        toEeprom);
    mirrorIntoComposite(m_cmpRefDacCoeffs, m_eepromConst, &VX9SDM1_EEPROM_Const_t::cmpRefDac,
                        toEeprom);
    mirrorIntoComposite(m_pulseWidth, m_eepromConst, &VX9SDM1_EEPROM_Const_t::pulseWidth, toEeprom);
}

SspdDriverM1::~SspdDriverM1()
{
    delete m_data;
    delete m_current;
    delete m_currentMonitor;
    delete m_voltage;
    delete m_counts;
    delete m_status;
    delete m_shortEnable;
    delete m_amplifierEnable;
    delete m_hfModeEnable;
    delete m_comparatorEnable;
    delete m_counterEnable;
    delete m_autoResetEnable;
    delete m_params;
    delete m_cmpRefLevel;
    delete m_timeConst;
    delete m_autoResetThreshold;
    delete m_autoResetTimeOut;
    delete m_autoResetCounts;
    delete m_eepromConst;
    delete m_currentAdcCoeffs;
    delete m_currentMonitorAdcCoeffs;
    delete m_voltageAdcCoeffs;
    delete m_currentDacCoeffs;
    delete m_cmpRefDacCoeffs;
    delete m_pulseWidth;
    delete m_auxFlag;
}

// An acknowledged switch changes its bit of the status the module last reported, not of
// the result of an earlier acknowledgement: what the module reports stays the reference.
void SspdDriverM1::followSwitch(DriverPropertyWriteOnly<bool>* control, int bit)
{
    control->writeCallbacks()->add([this, control, bit] {
        const quint8 mask = quint8(1u << bit);
        const quint8 reported = m_status->cached().toByte();
        const quint8 byte =
            control->lastWritten() ? quint8(reported | mask) : quint8(reported & ~mask);
        updateStatus(VX9SDM1_Status_t::fromByte(byte));
    });
}

void SspdDriverM1::updateData(VX9SDM1_Data_t data)
{
    m_data->setCached(data);
    emit dataUpdated(data);
}

void SspdDriverM1::updateStatus(VX9SDM1_Status_t status)
{
    VX9SDM1_Data_t data = m_data->cached();
    data.status = status;
    updateData(data);
}

void SspdDriverM1::updateParams(VX9SDM1_Param_t params)
{
    m_params->setCached(params);
    emit paramsUpdated(params);
}

void SspdDriverM1::updateEEPROM(VX9SDM1_EEPROM_Const_t eeprom)
{
    m_eepromConst->setCached(eeprom);
    emit eepromConstUpdated(eeprom);
}
