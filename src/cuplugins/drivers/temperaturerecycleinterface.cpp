#include "temperaturerecycleinterface.h"

#include "advancedrelaycontrol.h"
#include "driverslog.h"
#include "sspddriverm0.h"
#include "sspddriverm1.h"
#include "tempdriverm1.h"

#include <QTimer>
#include <algorithm>
#include <limits>

namespace {
constexpr quint64 LongestTimerMs = quint64(std::numeric_limits<int>::max());

using SavedChannel = TemperatureRecycleInterface::SavedChannel;

template <typename Driver> SavedChannel readChannel(Driver* driver, int tries)
{
    SavedChannel saved;
    bool ok = false;
    const float current = driver->current()->read(&ok, tries);
    if (ok)
        saved.current = current;
    const auto status = driver->status()->read(&ok, tries);
    if (ok)
        saved.shorted = status.shorted;
    return saved;
}

// Runs step(driver, typed driver) for every SSPD driver of the list, in list order, until
// stop() says so. The list is taken as it is now, and a driver destroyed while an earlier
// one waits for the bus is passed over.
template <typename Step, typename Stop>
void forEachChannel(const QList<CommonDriver*>* drivers, Step step, Stop stop)
{
    if (!drivers)
        return;
    QList<QPointer<CommonDriver>> channels;
    for (CommonDriver* driver : *drivers)
        channels.append(driver);
    for (const QPointer<CommonDriver>& driver : channels) {
        if (stop())
            return;
        if (!driver)
            continue;
        if (auto* m1 = qobject_cast<SspdDriverM1*>(driver.data()))
            step(driver.data(), m1);
        else if (auto* m0 = qobject_cast<SspdDriverM0*>(driver.data()))
            step(driver.data(), m0);
    }
}
} // namespace

QString TemperatureRecycleInterface::stateText(TemperatureRecycleState state)
{
    switch (state) {
    case Idle:
        return {};
    case SavingParams:
        return QStringLiteral("Saving Params");
    case SetupSspd:
        return QStringLiteral("Setup SSPD");
    case StartingRecycle:
        return QStringLiteral("Starting Recycle");
    case Heating:
        return QStringLiteral("Heating");
    case Thermalization:
        return QStringLiteral("Thermalization");
    case CoolingDown:
        return QStringLiteral("Cooling Down");
    case FinishRecycling:
        return QStringLiteral("Finish Recycling");
    case ProcessAborted:
        return QStringLiteral("Process Aborted");
    }
    return {};
}

TemperatureRecycleInterface::TemperatureRecycleInterface(TempDriverM1* relayDriver,
                                                         const QList<CommonDriver*>* sspdDrivers,
                                                         QObject* parent)
    : QObject(parent), m_progressTimer(new QTimer(this)), m_coolingTimer(new QTimer(this)),
      m_relay1Control(new AdvancedRelayControl(relayDriver, 2, true, this)),
      m_relay0Control(new AdvancedRelayControl(relayDriver, 1, false, this)),
      m_relayDriver(relayDriver), m_sspdDrivers(sspdDrivers)
{
    m_progressTimer->setInterval(DefaultProgressIntervalMs);
    m_coolingTimer->setSingleShot(true);
    m_coolingTimer->setTimerType(Qt::PreciseTimer);
    connect(m_coolingTimer, &QTimer::timeout, this,
            &TemperatureRecycleInterface::restoreSSPDParams);
    connect(m_progressTimer, &QTimer::timeout, this, &TemperatureRecycleInterface::reportProgress);
    connect(this, &TemperatureRecycleInterface::stateChanged, this,
            [this](TemperatureRecycleState state) { m_currentState = state; });
    connect(m_relay1Control, &AdvancedRelayControl::processFinished, this,
            &TemperatureRecycleInterface::endThermalization);
    connect(m_relay0Control, &AdvancedRelayControl::processFinished, this,
            &TemperatureRecycleInterface::endHeating);
}

TemperatureRecycleInterface::~TemperatureRecycleInterface()
{
    m_progressTimer->stop();
    m_coolingTimer->stop();
    // The relay controls switch their relays back while being destroyed and wait for the
    // bus meanwhile; nothing they announce then may reach this half-destroyed object.
    m_relay0Control->disconnect(this);
    m_relay1Control->disconnect(this);
    delete m_relay0Control;
    delete m_relay1Control;
}

int TemperatureRecycleInterface::progressInterval() const
{
    return m_progressTimer->interval();
}

void TemperatureRecycleInterface::setProgressInterval(int ms)
{
    m_progressTimer->setInterval(qMax(ms, 1));
}

bool TemperatureRecycleInterface::startRecycle(quint32 heatingTime, quint32 thermalizationTime,
                                               quint32 coolingTime)
{
    if (m_currentState != Idle) {
        qCDebug(lcDrivers) << "recycle already running, start refused";
        return false;
    }
    // A heating time of 0 would mean the relay controls' default off period, and times
    // beyond a timer's range would never end; both would leave the relays astray.
    if (!m_relayDriver || heatingTime == 0 ||
        quint64(heatingTime) + thermalizationTime > LongestTimerMs ||
        coolingTime > LongestTimerMs) {
        qCDebug(lcDrivers) << "recycle refused: relay module" << bool(m_relayDriver) << "times"
                           << heatingTime << thermalizationTime << coolingTime;
        return false;
    }

    // Every step below waits for the bus and so lets other events run; an abort among
    // them ends the procedure, and the rest of the start must not go on.
    const quint64 run = m_procedureEnds;
    const auto ended = [this, run] { return m_procedureEnds != run; };

    emit stateChanged(StartingRecycle);
    m_progressValue = 0;
    if (ended())
        return true;

    emit stateChanged(SavingParams);
    m_savedParams.clear();
    forEachChannel(
        m_sspdDrivers,
        [this](CommonDriver* key, auto* driver) {
            m_savedParams.insert(key, readChannel(driver, ChannelTries));
        },
        ended);
    if (ended())
        return true;

    emit stateChanged(SetupSspd);
    forEachChannel(
        m_sspdDrivers,
        [](CommonDriver*, auto* driver) {
            driver->shortEnable()->writeSync(true, nullptr, ChannelTries);
        },
        ended);
    if (ended())
        return true;

    emit stateChanged(Heating);
    if (ended())
        return true;
    m_heatingTime = heatingTime;
    m_thermalizationTime = thermalizationTime;
    m_coolingTime = coolingTime;
    m_procedureClock.start();
    m_relay0Control->temporarySetRelayOff(heatingTime);
    if (ended())
        return true;
    m_relay1Control->temporarySetRelayOff(heatingTime + thermalizationTime);
    if (ended())
        return true;
    m_progressTimer->start();
    return true;
}

void TemperatureRecycleInterface::endHeating()
{
    emit stateChanged(Thermalization);
    if (m_coolingDue) {
        m_coolingDue = false;
        startWaitCoolingDown();
    }
}

void TemperatureRecycleInterface::endThermalization()
{
    // Relay 1 can come back while relay 0's own switch-back still waits for the bus (a
    // short or zero thermalization time); cooling down then follows thermalization.
    if (m_currentState == Heating)
        m_coolingDue = true;
    else
        startWaitCoolingDown();
}

void TemperatureRecycleInterface::startWaitCoolingDown()
{
    const quint64 run = m_procedureEnds;
    emit stateChanged(CoolingDown);
    if (m_procedureEnds == run)
        m_coolingTimer->start(int(std::min<quint64>(m_coolingTime, LongestTimerMs)));
}

void TemperatureRecycleInterface::abort()
{
    const bool running = m_currentState != Idle;
    m_coolingTimer->stop();
    m_progressTimer->stop();
    // Heating ends before the other relay returns, as at the end of a regular run.
    m_relay0Control->stop();
    m_relay1Control->stop();
    if (!running)
        return;
    emit stateChanged(ProcessAborted);
    restoreSSPDParams();
}

void TemperatureRecycleInterface::restoreSSPDParams()
{
    ++m_procedureEnds;
    m_coolingDue = false;
    m_coolingTimer->stop();
    m_progressTimer->stop();
    m_procedureClock.invalidate();

    if (m_currentState != ProcessAborted)
        emit stateChanged(FinishRecycling);
    // A channel without a record was never shorted by this procedure; its switch is not
    // ours to change.
    forEachChannel(
        m_sspdDrivers,
        [this](CommonDriver* key, auto* driver) {
            const auto saved = m_savedParams.constFind(key);
            if (saved != m_savedParams.cend())
                driver->shortEnable()->writeSync(saved->shorted, nullptr, ChannelTries);
        },
        [] { return false; });

    m_progressValue = 0;
    emit stateChanged(Idle);
    emit progress(0);
}

uint8_t TemperatureRecycleInterface::reportProgress()
{
    const quint64 total = quint64(m_heatingTime) + m_thermalizationTime + m_coolingTime;
    quint64 value = 0;
    if (total > 0 && m_procedureClock.isValid()) {
        const quint64 elapsed = quint64(std::max<qint64>(m_procedureClock.elapsed(), 0));
        value = std::min<quint64>(m_progressScale, m_progressScale * elapsed / total);
    }
    m_progressValue = quint32(value);
    emit progress(m_progressValue);
    return uint8_t(m_progressValue * 100 / m_progressScale);
}

quint32 TemperatureRecycleInterface::remainingTime() const
{
    if (const int left = m_relay0Control->remainingTime(); left > 0)
        return quint32(left);
    if (const int left = m_relay1Control->remainingTime(); left > 0)
        return quint32(left);
    return quint32(std::max(m_coolingTimer->remainingTime(), 0));
}

bool TemperatureRecycleInterface::relayState(int which)
{
    if (which == 1)
        return m_relay0Control->getRelayState();
    if (which == 2)
        return m_relay1Control->getRelayState();
    return false;
}

bool TemperatureRecycleInterface::lastRelayState(int which) const
{
    if (which == 1)
        return m_relay0Control->lastPhysical();
    if (which == 2)
        return m_relay1Control->lastPhysical();
    return false;
}

bool TemperatureRecycleInterface::checkRelays()
{
    const bool relay0 = m_relay0Control->checkState();
    const bool relay1 = m_relay1Control->checkState();
    return relay0 && relay1;
}
