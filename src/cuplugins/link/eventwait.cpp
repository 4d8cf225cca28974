#include "eventwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

bool cuWaitForEvents(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    const QDeadlineTimer until(qMax(0, timeoutMs), Qt::PreciseTimer);
    // The timer only exists to wake the dispatcher at the deadline; it is re-armed
    // should it fire a hair early, so the dispatcher never sleeps past the deadline.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!until.hasExpired()) {
        if (!wake.isActive())
            wake.start(int(qMax<qint64>(1, until.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (done())
            return true;
    }
    return false;
}
