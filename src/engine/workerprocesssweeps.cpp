// Sweeps on one SSPD channel and the histogram: the start sequence run when the mode is
// set, one step per time constant from the reading loop, and the end of a sweep.
#include "workerprocess.h"

#include "drivers/abstractdriver.h"
#include "engine/workerasync.h"
#include "enginelog.h"
#include "models/driverhelper.h"
#include "sweepparameters.h"

#include <cmath>

namespace {

constexpr int StartAttempts = 5;
constexpr int SingleAttempt = 1;
// The detector settles with its line shorted before the read-out chain is switched on.
constexpr int SettleDelayMs = 1000;

const QString CurrentKey = QStringLiteral("current");
const QString LevelKey = QStringLiteral("cmp_ref_level");

} // namespace

// False when a sweep mode could not start (no driver for its channel, or parameters that
// never reach an end); the mode is set all the same.
bool WorkerProcess::setMode(WorkerAsync::WorkerMode mode)
{
    m_mode = mode;
    switch (mode) {
    case WorkerAsync::WorkerModeCpsVersCurrent:
        return startCpsSweep(false);
    case WorkerAsync::WorkerModeCpsVersTrigger:
        return startCpsSweep(true);
    case WorkerAsync::WorkerModeIVCurves:
        return startIvSweep();
    case WorkerAsync::WorkerModeHistogram:
        return startHistogram();
    default:
        return true;
    }
}

AbstractDriver* WorkerProcess::sweepDriver() const
{
    if (m_activeChannels.isEmpty())
        return nullptr;
    return driverByAddress(m_activeChannels.first());
}

// A sweep that could never reach its end is not started: nothing is written to the
// module, and the screen learns why and that the sweep is over.
bool WorkerProcess::sweepCanStart(const SweepParameters& parameters)
{
    QString problem = parameters.problem();
    if (problem.isEmpty()) {
        const int ms = parameters.hasTimeConstant() ? parameters.timeConstantMs() : m_timeConstant;
        if (ms <= 0)
            problem = QStringLiteral("the time constant must be at least 1 ms");
    }
    if (problem.isEmpty())
        return true;
    qCDebug(lcEngine) << "sweep refused:" << problem << m_sweepParameters;
    emit setStatusText(QStringLiteral("Sweep not started: %1").arg(problem));
    emit sweepFinished();
    m_mode = WorkerAsync::WorkerModeNoAction;
    return false;
}

void WorkerProcess::applySweepTimeConstant(DriverHelper& helper, const SweepParameters& parameters)
{
    emit setStatusText(QStringLiteral("Setting driver parameters..."));
    const int ms = parameters.timeConstantMs();
    if (ms <= 0)
        return;
    m_timeConstant = ms;
    helper.writeParameter(QStringLiteral("time_const"), parameters.timeConstant(), StartAttempts);
}

bool WorkerProcess::startCpsSweep(bool triggerSweep)
{
    AbstractDriver* driver = sweepDriver();
    if (!driver)
        return false;
    const SweepParameters parameters(m_sweepParameters);
    if (!sweepCanStart(parameters))
        return false;
    DriverHelper helper(driver);
    const double from = parameters.from();

    emit setStatusText(QStringLiteral("Start Sweep process..."));
    emit sweepProgress(0);
    emit setStatusText(QStringLiteral("Short-circiuts enable"));
    helper.writeParameter(QStringLiteral("status_shorted"), true, StartAttempts);
    if (triggerSweep) {
        emit setStatusText(
            QStringLiteral("Setting start trigger : %1 mV").arg(from * 1000.0, 0, 'g', 6));
        m_sweepParameters.insert(CurrentKey, from);
        helper.writeParameter(LevelKey, from, StartAttempts);
    } else {
        emit setStatusText(
            QStringLiteral("Setting start current: %1 \u03bcA").arg(from * 1e6, 0, 'g', 6));
        m_sweepParameters.insert(CurrentKey, from);
        helper.writeParameter(CurrentKey, from, StartAttempts);
    }
    applySweepTimeConstant(helper, parameters);
    emit setStatusText(QStringLiteral("Delay 1 sec..."));
    DriverHelper::wait(SettleDelayMs);
    emit setStatusText(QStringLiteral("Turn on ..."));
    helper.writeParameter(QStringLiteral("operate"), true, StartAttempts);
    m_stepTimer.restart();
    return true;
}

bool WorkerProcess::startIvSweep()
{
    AbstractDriver* driver = sweepDriver();
    if (!driver)
        return false;
    const SweepParameters parameters(m_sweepParameters);
    if (!sweepCanStart(parameters))
        return false;
    DriverHelper helper(driver);
    const double from = parameters.from();

    emit setStatusText(QStringLiteral("Start Sweep process..."));
    emit sweepProgress(0);
    emit setStatusText(
        QStringLiteral("Setting start current: %1 \u03bcA").arg(from * 1e6, 0, 'g', 6));
    m_sweepParameters.insert(CurrentKey, from);
    helper.writeParameter(CurrentKey, from, SingleAttempt);
    applySweepTimeConstant(helper, parameters);
    m_stepTimer.restart();
    return true;
}

bool WorkerProcess::startHistogram()
{
    AbstractDriver* driver = sweepDriver();
    if (!driver)
        return false;
    const SweepParameters parameters(m_sweepParameters);
    DriverHelper helper(driver);
    emit setStatusText(QStringLiteral("Start process..."));
    applySweepTimeConstant(helper, parameters);
    m_stepTimer.restart();
    return true;
}

void WorkerProcess::sweepStep()
{
    const QList<int> channels = m_activeChannels;
    for (int address : channels) {
        AbstractDriver* driver = driverByAddress(address);
        if (!driver)
            continue;
        // A failed reading is shown as a fault in the list; the sweep goes on.
        readChannel(driver, m_timeConstant);
        const SweepParameters parameters(m_sweepParameters);
        DriverHelper helper(driver);
        const double next = parameters.next();

        if (m_mode == WorkerAsync::WorkerModeCpsVersCurrent) {
            const double stopLevel = parameters.hasTrigger() ? parameters.trigger() : 0.0;
            const double voltage = helper.value(QStringLiteral("voltage")).toDouble();
            // A switched detector (voltage above the trigger) ends the sweep early.
            if (parameters.finished() || !(std::abs(voltage) <= std::abs(stopLevel))) {
                endSweep();
                return;
            }
            emit sweepProgress(parameters.progress());
            helper.writeParameter(CurrentKey, next, SingleAttempt);
            m_sweepParameters.insert(CurrentKey, next);
        } else if (m_mode == WorkerAsync::WorkerModeCpsVersTrigger) {
            if (parameters.finished()) {
                endSweep();
                return;
            }
            emit sweepProgress(parameters.progress());
            helper.writeParameter(LevelKey, next, SingleAttempt);
            m_sweepParameters.insert(CurrentKey, next);
        } else {
            if (parameters.finished()) {
                endSweep();
                return;
            }
            m_sweepParameters.insert(CurrentKey, next);
            emit sweepProgress(parameters.progress());
            helper.writeParameter(CurrentKey, next, SingleAttempt);
        }
    }
    emit updatePlot();
    m_stepTimer.restart();
}

void WorkerProcess::endSweep()
{
    emit sweepProgress(100.0);
    emit sweepFinished();
    m_mode = WorkerAsync::WorkerModeNoAction;
}
