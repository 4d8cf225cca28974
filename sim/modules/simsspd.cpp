#include "simsspd.h"

#include "drivers/structurejson.h"

namespace {

enum Code : quint8 {
    Data = 16,
    CurrentRead = 17,
    CurrentWrite = 18,
    Voltage = 19,
    Counts = 20,
    StatusRead = 21,
    StatusWrite = 22,
    ShortEnable = 23,
    AmplifierEnable = 24,
    RfKeyToComparator = 25, // model 0
    ComparatorEnable = 26,
    CounterEnable = 27,
    AutoResetEnable = 28,
    ParamsRead = 29,
    ParamsWrite = 30,
    CmpRefLevelRead = 31,
    CmpRefLevelWrite = 32,
    TimeConstRead = 33,
    TimeConstWrite = 34,
    AutoResetThresholdRead = 35,
    AutoResetThresholdWrite = 36,
    AutoResetTimeOutRead = 37,
    AutoResetTimeOutWrite = 38,
    AutoResetCountsRead = 39,
    AutoResetCountsWrite = 40,
    EepromRead = 41,
    EepromWrite = 42,
    CurrentAdcRead = 43,
    CurrentAdcWrite = 44,
    VoltageAdcRead = 45,
    VoltageAdcWrite = 46,
    CurrentDacRead = 47,
    CurrentDacWrite = 48,
    CmpRefDacRead = 49,
    CmpRefDacWrite = 50,
    AuxFlagRead = 51,
    AuxFlagWrite = 52,
    // Model 1 only.
    CurrentMonitor = 53,
    CurrentMonitorAdcRead = 54,
    CurrentMonitorAdcWrite = 55,
    HfModeEnable = 56,
    PulseWidthWrite = 57,
    PulseWidthRead = 58,
};

enum StatusBit {
    Shorted = 1,
    Amplifier = 2,
    RfKey = 3,  // model 0
    HfMode = 3, // model 1
    Comparator = 4,
    Counter = 5,
    AutoReset = 6
};

// Power-on: initialised, output shorted, read-out chain off.
constexpr quint8 PowerOnStatus = 0x03;

bool bit(quint8 status, int index)
{
    return status & (1u << index);
}

double calibrated(const pair_t<float>& pair, double value)
{
    return double(pair.first) * value + double(pair.second);
}

// The status bit a switch code sets, or -1 for a code that is no switch. Model 1 took bit 3
// for its HF mode; code 25, the RF key of model 0, is not a switch there.
constexpr int switchBit(quint8 command, bool hf)
{
    switch (command) {
    case ShortEnable:
    case AmplifierEnable:
    case ComparatorEnable:
    case CounterEnable:
    case AutoResetEnable:
        return command - ShortEnable + Shorted;
    case RfKeyToComparator:
        return hf ? -1 : RfKey;
    case HfModeEnable:
        return hf ? HfMode : -1;
    default:
        return -1;
    }
}

} // namespace

template <typename Model>
SimSspd<Model>::SimSspd(quint8 address, const SimModule::Identity& identity,
                        SimEnvironment* environment, QObject* parent)
    : SimModule(address, identity, environment, parent), m_physics(environment, Model::Hf)
{
    const pair_t<float> identityPair{1.0f, 0.0f};
    m_eeprom.currentAdc = identityPair;
    m_eeprom.voltageAdc = identityPair;
    m_eeprom.currentDac = identityPair;
    m_eeprom.cmpRefDac = identityPair;
    if constexpr (Model::Hf) {
        m_eeprom.currentMonitorAdc = identityPair;
        m_eeprom.pulseWidth = 10.0f;
    }
    SimSspd::reset();
}

template <typename Model> void SimSspd<Model>::reset()
{
    m_physics.reset();
    m_setCurrent = 0;
    m_auxFlag = false;
    m_params = Param{0.05f, 0.1f, 0.2f, 0.5f, 0};
    setStatus(PowerOnStatus);
    applyBias();
    applyParams();
}

template <typename Model> bool SimSspd<Model>::configure(const QJsonObject& physics, QString* error)
{
    return m_physics.configure(physics, error);
}

template <typename Model> QJsonObject SimSspd<Model>::eeprom() const
{
    return {{QStringLiteral("constants"), cuToJson(m_eeprom)}};
}

template <typename Model> bool SimSspd<Model>::setEeprom(const QJsonObject& eeprom, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    for (auto it = eeprom.begin(); it != eeprom.end(); ++it) {
        if (it.key() != QLatin1String("constants"))
            return fail(QStringLiteral("unknown SSPD EEPROM key \"%1\"").arg(it.key()));
    }
    if (!eeprom.contains(QLatin1String("constants")))
        return true;
    // Fields not given keep their values.
    auto constants = m_eeprom;
    if (!cuMergeJson(eeprom.value(QLatin1String("constants")), &constants,
                     QStringLiteral("SSPD EEPROM constants"), error))
        return false;
    m_eeprom = constants;
    applyBias();
    applyTrigger();
    return true;
}

template <typename Model>
std::optional<QList<SimModule::Answer>> SimSspd<Model>::handleOwn(quint8 command,
                                                                  const QByteArray& data)
{
    // A write of the wrong length is dropped without an acknowledgement, as the firmware
    // does with a malformed packet.
    auto store = [&](auto* target, auto then) -> QList<Answer> {
        if (!fromBytes(data, target))
            return {};
        then();
        return acknowledge(command);
    };
    auto nothing = [] {};
    auto eepromChanged = [this] {
        applyBias();
        applyTrigger();
    };

    if (const int index = switchBit(command, Model::Hf); index >= 0) {
        quint8 on = 0;
        return store(&on, [&] {
            const quint8 mask = quint8(1u << index);
            setStatus(on ? (m_status | mask) : (m_status & ~mask));
        });
    }
    if constexpr (Model::Hf) {
        switch (command) {
        case CurrentMonitor:
            return answer(command, bytesOf(readCurrentMonitor()));
        case CurrentMonitorAdcRead:
            return answer(command, bytesOf(m_eeprom.currentMonitorAdc));
        case CurrentMonitorAdcWrite:
            return store(&m_eeprom.currentMonitorAdc, nothing);
        case PulseWidthRead:
            return answer(command, bytesOf(m_eeprom.pulseWidth));
        case PulseWidthWrite:
            return store(&m_eeprom.pulseWidth, nothing);
        default:
            break;
        }
    }

    switch (command) {
    case Code::Data:
        return answer(command, bytesOf(liveData()));
    case CurrentRead:
        return answer(command, bytesOf(readCurrent()));
    case CurrentWrite:
        return store(&m_setCurrent, [this] { applyBias(); });
    case Voltage:
        return answer(command, bytesOf(readVoltage()));
    case Counts:
        return answer(command, bytesOf(float(m_physics.counts())));
    case StatusRead:
        return answer(command, bytesOf(m_status));
    case StatusWrite: {
        quint8 status = 0;
        return store(&status, [&] { setStatus(status); });
    }
    case ParamsRead:
        return answer(command, bytesOf(params()));
    case ParamsWrite:
        return store(&m_params, [this] {
            applyParams();
            m_physics.setAutoResetCount(m_params.autoResetCounts);
        });
    case CmpRefLevelRead:
        return answer(command, bytesOf(m_params.cmpRefLevel));
    case CmpRefLevelWrite:
        return store(&m_params.cmpRefLevel, [this] { applyTrigger(); });
    case TimeConstRead:
        return answer(command, bytesOf(m_params.timeConst));
    case TimeConstWrite:
        return store(&m_params.timeConst, [this] { applyParams(); });
    case AutoResetThresholdRead:
        return answer(command, bytesOf(m_params.autoResetThreshold));
    case AutoResetThresholdWrite:
        return store(&m_params.autoResetThreshold, [this] { applyParams(); });
    case AutoResetTimeOutRead:
        return answer(command, bytesOf(m_params.autoResetTimeOut));
    case AutoResetTimeOutWrite:
        return store(&m_params.autoResetTimeOut, [this] { applyParams(); });
    case AutoResetCountsRead:
        return answer(command, bytesOf(params().autoResetCounts));
    case AutoResetCountsWrite:
        return store(&m_params.autoResetCounts,
                     [this] { m_physics.setAutoResetCount(m_params.autoResetCounts); });
    case EepromRead:
        return answer(command, bytesOf(m_eeprom));
    case EepromWrite:
        return store(&m_eeprom, eepromChanged);
    case CurrentAdcRead:
        return answer(command, bytesOf(m_eeprom.currentAdc));
    case CurrentAdcWrite:
        return store(&m_eeprom.currentAdc, nothing);
    case VoltageAdcRead:
        return answer(command, bytesOf(m_eeprom.voltageAdc));
    case VoltageAdcWrite:
        return store(&m_eeprom.voltageAdc, nothing);
    case CurrentDacRead:
        return answer(command, bytesOf(m_eeprom.currentDac));
    case CurrentDacWrite:
        return store(&m_eeprom.currentDac, eepromChanged);
    case CmpRefDacRead:
        return answer(command, bytesOf(m_eeprom.cmpRefDac));
    case CmpRefDacWrite:
        return store(&m_eeprom.cmpRefDac, eepromChanged);
    case AuxFlagRead:
        return answer(command, bytesOf(quint8(m_auxFlag ? 1 : 0)));
    case AuxFlagWrite: {
        quint8 on = 0;
        return store(&on, [&] { m_auxFlag = on != 0; });
    }
    default:
        return std::nullopt;
    }
}

template <typename Model> typename Model::Data SimSspd<Model>::liveData()
{
    Data data{};
    data.current = readCurrent();
    if constexpr (Model::Hf)
        data.currentMonitor = readCurrentMonitor();
    data.voltage = readVoltage();
    data.counts = float(m_physics.counts());
    data.status = Status::fromByte(m_status);
    return data;
}

template <typename Model> VX9SDM0V1_Param_t SimSspd<Model>::params()
{
    Param params = m_params;
    params.autoResetCounts = m_physics.autoResetCount();
    return params;
}

template <typename Model> float SimSspd<Model>::readCurrent()
{
    return float(calibrated(m_eeprom.currentAdc, m_physics.measuredCurrent()));
}

template <typename Model> float SimSspd<Model>::readVoltage()
{
    return float(calibrated(m_eeprom.voltageAdc, m_physics.measuredVoltage()));
}

// Model 0 has no current monitor; the body is discarded for it, so that explicit
// instantiation of both models builds with every compiler we use.
template <typename Model> float SimSspd<Model>::readCurrentMonitor()
{
    if constexpr (Model::Hf)
        return float(calibrated(m_eeprom.currentMonitorAdc, m_physics.measuredDetectorCurrent()));
    else
        return 0.0f;
}

template <typename Model> void SimSspd<Model>::setStatus(quint8 status)
{
    m_status = status;
    SspdPhysics::Chain chain;
    chain.shorted = bit(status, Shorted);
    chain.amplifier = bit(status, Amplifier);
    if constexpr (Model::Hf) {
        chain.comparator = bit(status, Comparator);
        chain.hfMode = bit(status, HfMode);
    } else {
        chain.comparator = bit(status, Comparator) && bit(status, RfKey);
    }
    chain.counter = bit(status, Counter);
    m_physics.setChain(chain);
    m_physics.setAutoReset(bit(status, AutoReset), m_params.autoResetThreshold,
                           m_params.autoResetTimeOut);
}

template <typename Model> void SimSspd<Model>::applyBias()
{
    m_physics.setBias(calibrated(m_eeprom.currentDac, m_setCurrent));
}

template <typename Model> void SimSspd<Model>::applyTrigger()
{
    m_physics.setTrigger(calibrated(m_eeprom.cmpRefDac, m_params.cmpRefLevel));
}

template <typename Model> void SimSspd<Model>::applyParams()
{
    applyTrigger();
    m_physics.setTimeConstant(m_params.timeConst);
    m_physics.setAutoReset(bit(m_status, AutoReset), m_params.autoResetThreshold,
                           m_params.autoResetTimeOut);
}

template class SimSspd<SimSspdModel0>;
template class SimSspd<SimSspdModel1>;
