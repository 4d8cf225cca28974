#include "advancedrelaycontrol.h"

#include "crelaysstatus.h"
#include "driverslog.h"
#include "tempdriverm1.h"

#include <QTimer>
#include <algorithm>
#include <limits>

namespace {
// QTimer takes int milliseconds; a longer time must not wrap into a negative interval,
// which would leave the timer stopped and the relay off for good.
int timerMs(quint64 ms)
{
    return int(std::min<quint64>(ms, quint64(std::numeric_limits<int>::max())));
}
} // namespace

AdvancedRelayControl::AdvancedRelayControl(TempDriverM1* driver, quint32 mask, bool polarity,
                                           QObject* parent)
    : QObject(parent), m_driver(driver), m_polarity(polarity), m_mask(mask),
      m_cycleTimer(new QTimer(this)), m_toggleBackTimer(new QTimer(this))
{
    // Off periods are process times (heating, pulses); the 5 % slack of a coarse timer
    // would stretch them noticeably.
    m_cycleTimer->setTimerType(Qt::PreciseTimer);
    m_toggleBackTimer->setTimerType(Qt::PreciseTimer);
    m_toggleBackTimer->setSingleShot(true);
    m_toggleBackTimer->setInterval(DefaultToggleBackIntervalMs);
    connect(m_toggleBackTimer, &QTimer::timeout, this, &AdvancedRelayControl::toggleBack);
    connect(m_cycleTimer, &QTimer::timeout, this, &AdvancedRelayControl::cycleStep);

    m_enabled = (m_polarity == getRelayState());
}

AdvancedRelayControl::~AdvancedRelayControl()
{
    stop();
}

int AdvancedRelayControl::toggleBackInterval() const
{
    return m_toggleBackTimer->interval();
}

void AdvancedRelayControl::setToggleBackInterval(int ms)
{
    m_toggleBackTimer->setInterval(qMax(ms, 0));
}

void AdvancedRelayControl::setRelay(bool enable)
{
    m_enabled = enable;
    const cRelaysStatus status(quint8(m_mask), enable == m_polarity ? quint8(m_mask) : quint8(0));
    if (!m_driver) {
        qCDebug(lcDrivers) << "relay control without a module: relay not switched";
        return;
    }
    m_driver->relays()->writeSync(status, nullptr, RelayTries);
}

bool AdvancedRelayControl::readRelay(bool* answered)
{
    *answered = false;
    if (!m_driver)
        return false;
    const cRelaysStatus status = m_driver->relays()->read(answered, RelayTries);
    return *answered && (quint32(status.raw()) & m_mask) != 0;
}

bool AdvancedRelayControl::getRelayState()
{
    bool answered = false;
    return readRelay(&answered);
}

void AdvancedRelayControl::temporarySetRelayOff(uint32_t timeBeforeToggleback)
{
    // A toggle-back left over from an earlier off period must not end this one early.
    m_toggleBackTimer->stop();
    const quint64 stops = m_stops;
    setRelay(false);
    // A stop delivered while the write waited has the last word.
    if (m_stops != stops)
        return;
    m_state = StateTemporarilyOff;
    if (timeBeforeToggleback == 0)
        m_toggleBackTimer->start();
    else
        m_toggleBackTimer->start(timerMs(timeBeforeToggleback));
}

void AdvancedRelayControl::temporarySetRelayOff()
{
    temporarySetRelayOff(0);
}

void AdvancedRelayControl::toggleBack()
{
    // The state is settled before the write: a cycle pulse delivered while the write
    // waits for its answer sets its own state, which must stand.
    m_state = m_cycleTimer->isActive() ? StateCycleArmed : StateIdle;
    const quint64 stops = m_stops;
    setRelay(true);
    if (m_stops == stops)
        emit processFinished();
}

void AdvancedRelayControl::startCycle(quint32 period, quint32 offTime, bool singleShot)
{
    stop();
    m_cyclePeriod = period;
    m_cycleOffTime = offTime;
    m_cycleTimer->setSingleShot(singleShot);
    m_state = StateCycleArmed;
    m_cycleTimer->start(timerMs(std::max<quint64>(period, quint64(m_minimumCyclePeriod))));
}

void AdvancedRelayControl::cycleStep()
{
    const quint64 onTime = std::max<quint64>(m_cyclePeriod, quint64(m_minimumCyclePeriod));
    // Restarts a repeating timer from now, so the next pulse follows this one's end by the
    // on time; a single-shot timer that has fired stays stopped.
    m_cycleTimer->setInterval(timerMs(m_cycleOffTime + onTime));
    temporarySetRelayOff(m_cycleOffTime);
}

bool AdvancedRelayControl::checkState()
{
    bool answered = false;
    m_lastPhysical = readRelay(&answered);
    // A relay that could not be read is not known to be in place, whatever it should be.
    if (answered && m_lastPhysical == (m_polarity == m_enabled)) {
        m_mismatchAllowance = MismatchAllowance;
        return true;
    }
    const bool tolerated = m_mismatchAllowance > 0;
    if (m_mismatchAllowance > std::numeric_limits<qint32>::min())
        --m_mismatchAllowance;
    qCDebug(lcDrivers) << "relay mask" << m_mask << "not in place, allowance left"
                       << m_mismatchAllowance;
    return tolerated;
}

void AdvancedRelayControl::stop()
{
    // Timers first: a toggle-back or pulse delivered while the write below waits would
    // otherwise switch the relay or announce the end of an off period after the stop.
    m_cycleTimer->stop();
    m_toggleBackTimer->stop();
    m_state = StateIdle;
    ++m_stops;
    setRelay(true);
    m_mismatchAllowance = MismatchAllowanceAfterStop;
}

int AdvancedRelayControl::remainingTime() const
{
    const QTimer* timer = nullptr;
    if (m_state == StateCycleArmed)
        timer = m_cycleTimer;
    else if (m_state == StateTemporarilyOff)
        timer = m_toggleBackTimer;
    // An inactive timer reports -1; no time is left then.
    return timer ? qMax(timer->remainingTime(), 0) : 0;
}
