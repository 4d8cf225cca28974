// Sweeps on one SSPD channel and the histogram: the start sequence run when the mode is
// set, one step per time constant from the reading loop, and the end of a sweep.
#include "workerprocess.h"

#include "drivers/abstractdriver.h"
#include "engine/workerasync.h"
#include "enginelog.h"
#include "models/driverhelper.h"
#include "parameterlimits.h"
#include "sweepparameters.h"

#include <cmath>

namespace {

constexpr int StartAttempts = 5;
constexpr int SingleAttempt = 1;
// The detector settles with its line shorted before the read-out chain is switched on.
constexpr int SettleDelayMs = 1000;

const QString CurrentKey = QStringLiteral("current");
const QString LevelKey = QStringLiteral("cmp_ref_level");
const QString TimeConstKey = QStringLiteral("time_const");
const QString NoAnswer = QStringLiteral("the unit does not answer");

} // namespace

// False when a sweep mode could not start (no driver for its channel, or parameters that
// never reach an end); the mode is set all the same.
bool WorkerProcess::setMode(WorkerAsync::WorkerMode mode)
{
    m_mode = mode;
    m_failedReadings = 0;
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

// A sweep that could never reach its end, would take endless steps, or would set the
// module to what no parameter write may set, is not started: nothing is written to the
// module, and the screen learns why and that the sweep is over. swept names the stepped
// parameter; the histogram steps none.
bool WorkerProcess::sweepCanStart(const SweepParameters& parameters, const QString& swept)
{
    QString problem = parameters.problem();
    if (problem.isEmpty()) {
        const int ms = parameters.hasTimeConstant() ? parameters.timeConstantMs() : m_timeConstant;
        if (ms <= 0)
            problem = QStringLiteral("the time constant must be at least 1 ms");
        else if (parameters.hasTimeConstant())
            problem = ParameterLimits::problem(TimeConstKey, parameters.timeConstant());
    }
    if (problem.isEmpty() && !swept.isEmpty()) {
        problem = ParameterLimits::problem(swept, parameters.from());
        if (problem.isEmpty())
            problem = ParameterLimits::problem(swept, parameters.to());
    }
    if (problem.isEmpty())
        return true;
    return refuseSweep(problem);
}

bool WorkerProcess::refuseSweep(const QString& problem)
{
    qCDebug(lcEngine) << "sweep refused:" << problem << m_sweepParameters;
    emit setStatusText(QStringLiteral("Sweep not started: %1").arg(problem));
    emit sweepFinished();
    m_mode = WorkerAsync::WorkerModeNoAction;
    return false;
}

// False only when the module was given a time constant and did not take it.
bool WorkerProcess::applySweepTimeConstant(DriverHelper& helper, const SweepParameters& parameters)
{
    emit setStatusText(QStringLiteral("Setting driver parameters..."));
    const int ms = parameters.timeConstantMs();
    if (ms <= 0)
        return true;
    m_timeConstant = ms;
    return helper.writeParameter(TimeConstKey, parameters.timeConstant(), StartAttempts);
}

bool WorkerProcess::startCpsSweep(bool triggerSweep)
{
    AbstractDriver* driver = sweepDriver();
    if (!driver)
        return false;
    const SweepParameters parameters(m_sweepParameters);
    if (!sweepCanStart(parameters, triggerSweep ? LevelKey : CurrentKey))
        return false;
    DriverHelper helper(driver);
    const double from = parameters.from();

    emit setStatusText(QStringLiteral("Start Sweep process..."));
    emit sweepProgress(0);
    emit setStatusText(QStringLiteral("Short-circiuts enable"));
    // A unit that does not take even the short after all its attempts is gone; the rest of
    // the start would only wait through more time-outs.
    if (!helper.writeParameter(QStringLiteral("status_shorted"), true, StartAttempts))
        return refuseSweep(NoAnswer);
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
    if (!sweepCanStart(parameters, CurrentKey))
        return false;
    DriverHelper helper(driver);
    const double from = parameters.from();

    emit setStatusText(QStringLiteral("Start Sweep process..."));
    emit sweepProgress(0);
    emit setStatusText(
        QStringLiteral("Setting start current: %1 \u03bcA").arg(from * 1e6, 0, 'g', 6));
    m_sweepParameters.insert(CurrentKey, from);
    const bool took = helper.writeParameter(CurrentKey, from, SingleAttempt);
    if (!applySweepTimeConstant(helper, parameters) && !took)
        return refuseSweep(NoAnswer);
    m_stepTimer.restart();
    return true;
}

bool WorkerProcess::startHistogram()
{
    AbstractDriver* driver = sweepDriver();
    if (!driver)
        return false;
    const SweepParameters parameters(m_sweepParameters);
    if (!sweepCanStart(parameters, {}))
        return false;
    DriverHelper helper(driver);
    emit setStatusText(QStringLiteral("Start process..."));
    if (!applySweepTimeConstant(helper, parameters))
        return refuseSweep(NoAnswer);
    m_stepTimer.restart();
    return true;
}

void WorkerProcess::sweepStep()
{
    const QList<int> channels = m_activeChannels;
    const QString swept = m_mode == WorkerAsync::WorkerModeCpsVersTrigger ? LevelKey : CurrentKey;
    for (int address : channels) {
        AbstractDriver* driver = driverByAddress(address);
        if (!driver)
            continue;
        // A failed reading is shown as a fault in the list and the sweep goes on; a unit
        // that no longer answers at all ends it.
        if (unitLost(readChannel(driver, m_timeConstant))) {
            endLostMeasurement();
            return;
        }
        const SweepParameters parameters(m_sweepParameters);
        DriverHelper helper(driver);
        const double next = parameters.next();

        bool ends = parameters.finished();
        if (m_mode == WorkerAsync::WorkerModeCpsVersCurrent) {
            const double stopLevel = parameters.hasTrigger() ? parameters.trigger() : 0.0;
            const double voltage = helper.value(QStringLiteral("voltage")).toDouble();
            // A switched detector (voltage above the trigger) ends the sweep early.
            ends = ends || !(std::abs(voltage) <= std::abs(stopLevel));
        }
        // The position one step beyond the end may lie beyond what the module may be set
        // to; the sweep then ends at its end.
        if (ends || !ParameterLimits::problem(swept, next).isEmpty()) {
            endSweep();
            return;
        }
        if (m_mode == WorkerAsync::WorkerModeIVCurves) {
            m_sweepParameters.insert(CurrentKey, next);
            emit sweepProgress(parameters.progress());
            helper.writeParameter(CurrentKey, next, SingleAttempt);
        } else {
            emit sweepProgress(parameters.progress());
            helper.writeParameter(swept, next, SingleAttempt);
            m_sweepParameters.insert(CurrentKey, next);
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

bool WorkerProcess::unitLost(bool answered)
{
    m_failedReadings = answered ? 0 : m_failedReadings + 1;
    return m_failedReadings >= UnitLostAfterFailedReadings;
}

// Nothing more will be measured: the screen hears why, that the measurement is over (with no
// progress of 100 %, which would pass for a complete one), and the worker idles.
void WorkerProcess::endLostMeasurement()
{
    const QString text = m_mode == WorkerAsync::WorkerModeHistogram
                             ? QStringLiteral("Histogram ended: the unit stopped answering")
                             : QStringLiteral("Sweep ended: the unit stopped answering");
    qCDebug(lcEngine) << text << "after" << m_failedReadings << "failed readings";
    emit setStatusText(text);
    emit measurementLost(text);
    emit sweepFinished();
    m_mode = WorkerAsync::WorkerModeNoAction;
    m_failedReadings = 0;
}
