#include "workerprocess.h"

#include "detectorcharacterisation.h"
#include "engine/workerasync.h"
#include "enginelog.h"
#include "link/cutcpsocketiointerface.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace {

// A bare interruption request of the thread sends no event; the loop looks for one at
// least this often while it has nothing else to do.
constexpr int InterruptionCheckMs = 100;

} // namespace

WorkerProcess::WorkerProcess(QObject* parent)
    : QObject(parent), m_stepWake(new QTimer(this)),
      m_characterisation(new DetectorCharacterisation(this))
{
    m_stepWake->setSingleShot(true);
    // Time constants go down to 10 ms; a coarse timer would stretch them.
    m_stepWake->setTimerType(Qt::PreciseTimer);
}

WorkerProcess::~WorkerProcess()
{
    // Drivers hold a pointer to the transport: they go first.
    destroyDrivers();
    destroyTransport();
}

void WorkerProcess::addCommand(int command, const QVariant& parameter)
{
    {
        QMutexLocker locker(&m_commandMutex);
        m_commands.append({command, parameter});
    }
    // An event for this object ends the loop's sleep in the dispatcher; if the loop is busy,
    // the event is handled on the way and the queue is drained at the next pass anyway.
    QMetaObject::invokeMethod(
        this, [] {}, Qt::QueuedConnection);
}

void WorkerProcess::runProcess()
{
    qCDebug(lcEngine) << "start threaded process";
    m_stepTimer.start();
    QCoreApplication::processEvents();
    QThread* thread = QThread::currentThread();
    while (!thread->isInterruptionRequested()) {
        m_loopPasses.fetch_add(1, std::memory_order_relaxed);
        if (!executeCommand()) {
            emit finished();
            return;
        }
        if (m_connectionLost)
            endLostConnection();
        if (!readingLoop()) {
            emit finished();
            return;
        }
        if (m_connectionLost)
            endLostConnection();
        waitForWork();
    }
    qCDebug(lcEngine) << "interrupted";
    emit finished();
}

bool WorkerProcess::commandsPending()
{
    QMutexLocker locker(&m_commandMutex);
    return !m_commands.isEmpty();
}

bool WorkerProcess::stopRequested()
{
    if (QThread::currentThread()->isInterruptionRequested())
        return true;
    if (!m_takingInventory)
        return false;
    QMutexLocker locker(&m_commandMutex);
    return std::any_of(m_commands.cbegin(), m_commands.cend(), [](const CommandEntry& entry) {
        return entry.command == WorkerAsync::CommandConnect;
    });
}

int WorkerProcess::msUntilNextStep() const
{
    if (m_characterisation->active())
        return m_characterisation->msUntilDue();
    int interval = -1;
    switch (m_mode) {
    case WorkerAsync::WorkerModeAllChannels:
        interval = 1000;
        break;
    case WorkerAsync::WorkerModeSspdSingleChannel:
    case WorkerAsync::WorkerModeTemperatureSingleMode:
    case WorkerAsync::WorkerModeCpsVersTime:
    case WorkerAsync::WorkerModeTemperatureVersTime:
    case WorkerAsync::WorkerModeCpsVersCurrent:
    case WorkerAsync::WorkerModeCpsVersTrigger:
    case WorkerAsync::WorkerModeIVCurves:
    case WorkerAsync::WorkerModeHistogram:
        if (m_timeConstant > 0)
            interval = m_timeConstant;
        break;
    case WorkerAsync::WorkerModeNoAction:
        break;
    }
    if (interval < 0)
        return -1;
    // A step is due once the timer has run more than the interval.
    return int(qMax<qint64>(0, interval + 1 - m_stepTimer.elapsed()));
}

void WorkerProcess::waitForWork()
{
    if (QThread::currentThread()->isInterruptionRequested())
        return;
    const int due = msUntilNextStep();
    if (due == 0 || commandsPending()) {
        QCoreApplication::processEvents();
        return;
    }
    // Sleep in the dispatcher until an event comes: a device answer, a queued command
    // (addCommand posts one), the thread's quit, or the wake timer at the next step.
    m_stepWake->start(due < 0 ? InterruptionCheckMs : qMin(due, InterruptionCheckMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_stepWake->stop();
}

#include "moc_workerprocess.cpp"
