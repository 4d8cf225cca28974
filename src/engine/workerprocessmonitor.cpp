// The monitoring steps: every module once a second for the home view, the chosen channels
// at their time constant for the live views and time plots, and the reading of one module.
#include "workerprocess.h"

#include "detectorcharacterisation.h"
#include "drivers/abstractdriver.h"
#include "engine/workerasync.h"
#include "enginelog.h"
#include "models/driverhelper.h"

#include <QTime>
#include <climits>
#include <cmath>

namespace {

constexpr int AllChannelsIntervalMs = 1000;
// The live view of one channel never reads faster than this, whatever the module's own
// time constant.
constexpr int FastestSingleChannelMs = 10;

const QString TimeConstKey = QStringLiteral("time_const");
const QString StatusKey = QStringLiteral("status");

} // namespace

bool WorkerProcess::readingLoop()
{
    // The characterisation has the channel to itself; the views and sweeps wait for it.
    if (m_characterisation->active()) {
        m_characterisation->step();
        return true;
    }
    switch (m_mode) {
    case WorkerAsync::WorkerModeAllChannels:
        if (m_stepTimer.elapsed() > AllChannelsIntervalMs)
            readAllChannels();
        break;
    case WorkerAsync::WorkerModeSspdSingleChannel:
    case WorkerAsync::WorkerModeTemperatureSingleMode:
    case WorkerAsync::WorkerModeCpsVersTime:
    case WorkerAsync::WorkerModeTemperatureVersTime:
    case WorkerAsync::WorkerModeHistogram:
        if (m_timeConstant > 0 && m_stepTimer.elapsed() > m_timeConstant)
            monitorStep();
        break;
    case WorkerAsync::WorkerModeCpsVersCurrent:
    case WorkerAsync::WorkerModeCpsVersTrigger:
    case WorkerAsync::WorkerModeIVCurves:
        if (m_timeConstant > 0 && m_stepTimer.elapsed() > m_timeConstant)
            sweepStep();
        break;
    case WorkerAsync::WorkerModeNoAction:
        break;
    }
    return true;
}

void WorkerProcess::readAllChannels()
{
    const QList<AbstractDriver*> drivers = m_drivers;
    for (AbstractDriver* driver : drivers)
        readChannel(driver, 0);
    // Restarted after the reads, so that slow or silent modules still leave the unit a
    // full interval of quiet.
    m_stepTimer.restart();
}

void WorkerProcess::monitorStep()
{
    // Single-channel views leave the module's time constant alone; time plots and the
    // histogram set theirs.
    const bool singleChannel = m_mode == WorkerAsync::WorkerModeSspdSingleChannel ||
                               m_mode == WorkerAsync::WorkerModeTemperatureSingleMode;
    const int timeConstant = singleChannel ? 0 : m_timeConstant;
    QString text;
    bool anyAnswered = false;
    for (int address : std::as_const(m_activeChannels)) {
        AbstractDriver* driver = driverByAddress(address);
        if (!driver)
            continue;
        const bool answered = readChannel(driver, timeConstant);
        // The live views wait for a unit that comes back; a histogram that has lost its
        // unit would only count nothing until its end.
        if (m_mode == WorkerAsync::WorkerModeHistogram && unitLost(answered)) {
            endLostMeasurement();
            return;
        }
        // A module that failed has its fault reported; the others of the step are still
        // read, so that one broken channel does not blank the whole plot.
        if (!answered)
            continue;
        anyAnswered = true;
        if (m_mode == WorkerAsync::WorkerModeSspdSingleChannel) {
            // The live view follows the module's own pace.
            const double ms = m_lastData.value(TimeConstKey).toDouble() * 1000.0;
            const int whole = std::isfinite(ms) ? int(qBound(0.0, ms, double(INT_MAX))) : 0;
            m_timeConstant = qMax(whole, FastestSingleChannelMs);
        } else if (m_mode == WorkerAsync::WorkerModeCpsVersTime) {
            text += QStringLiteral("SSPD %1: %2 cps\r\n")
                        .arg(address)
                        .arg(m_lastData.value(QStringLiteral("cps")).toDouble(), 0, 'f', 1);
        } else if (m_mode == WorkerAsync::WorkerModeTemperatureVersTime) {
            text += QStringLiteral("Temperature %1: %2 K\r\n")
                        .arg(address)
                        .arg(m_lastData.value(QStringLiteral("temperature")).toDouble(), 0, 'f', 2);
        }
    }
    if (!anyAnswered) {
        m_stepTimer.restart();
        return;
    }
    emit updatePlot();
    if (!text.isEmpty()) {
        text += QStringLiteral("Time: %1").arg(QTime::currentTime().toString(u"hh:mm:ss"));
        emit setStatusText(text);
    }
    m_stepTimer.restart();
}

bool WorkerProcess::failChannel(AbstractDriver* driver)
{
    m_lastData = {{StatusKey, 2}};
    emit dataReady(driver->address(), m_lastData);
    return false;
}

bool WorkerProcess::readChannel(AbstractDriver* driver, int timeConstantMs)
{
    m_lastData.clear();
    DriverHelper helper(driver);
    QVariantMap params;
    if (helper.isSspd()) {
        params = helper.readParams(1);
        if (params.isEmpty())
            return failChannel(driver);
        // The module reports its time constant as a float in seconds: 0.7 s arrives as
        // 0.69999999 and must still count as 700 ms, or every step would rewrite it.
        const double moduleMs = params.value(TimeConstKey).toDouble() * 1000.0;
        const bool differs = !(std::abs(moduleMs - timeConstantMs) < 0.5);
        if (params.contains(TimeConstKey) && timeConstantMs > 0 && differs) {
            helper.writeParameter(TimeConstKey, timeConstantMs / 1000.0, 1);
            // Counts of the old time constant are still in the module until the new one
            // has run once.
            DriverHelper::wait(int(timeConstantMs * 1.2));
        }
    }
    const QVariantMap data = helper.readData(1);
    if (data.isEmpty())
        return failChannel(driver);

    QHash<QString, QVariant> record;
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        record.insert(it.key(), it.value());
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        record.insert(it.key(), it.value());
    record.insert(StatusKey, 1);
    m_lastData = record;
    emit dataReady(driver->address(), record);
    return true;
}
