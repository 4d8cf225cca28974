#include "abstractdriver.h"

#include "driverslog.h"

#include <QCoreApplication>
#include <QTimer>

AbstractDriver::AbstractDriver(QObject* parent)
    : cuIODeviceImpl(parent), m_answerTimer(new QTimer(this))
{
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setTimerType(Qt::PreciseTimer);
    connect(m_answerTimer, &QTimer::timeout, this, [this] { m_timedOut = true; });
}

void AbstractDriver::registerProperty(DriverProperty_p* p)
{
    const quint8 readCode = p->readCode();
    const quint8 writeCode = p->writeCode();
    m_commands.removeIf([&](DriverProperty_p* other) {
        return (readCode < 0xFF && other->readCode() == readCode) ||
               (writeCode < 0xFF && other->writeCode() == writeCode);
    });
    m_commands.append(p);
}

void AbstractDriver::sendRequest(quint8 code, QByteArray data)
{
    m_answerTimer->start(m_answerTimeout);
    m_answered = false;
    m_timedOut = false;
    sendMsg(code, quint8(data.size()), reinterpret_cast<quint8*>(data.data()));
}

bool AbstractDriver::waitForAnswer()
{
    if (m_answered)
        return !m_timedOut;
    while (!m_timedOut) {
        // Nothing outstanding would leave the dispatcher asleep for good.
        if (!m_answerTimer->isActive())
            return false;
        // Sleeps until an event arrives; the answer timer wakes it at the time-out.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (m_answered)
            return !m_timedOut;
    }
    qCDebug(lcDrivers) << "no answer from address" << address();
    return false;
}

bool AbstractDriver::handleMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data)
{
    if (address != this->address())
        return false;
    m_answerTimer->stop();
    m_answered = true;
    for (DriverProperty_p* p : std::as_const(m_commands)) {
        if (command == p->readCode()) {
            if (p->valueSize() != 0 && dataLength != p->valueSize()) {
                qCDebug(lcDrivers) << "address" << address << "code" << command << "answered"
                                   << dataLength << "bytes, expected" << p->valueSize();
                return true;
            }
            p->setReceivedData(QByteArray(reinterpret_cast<const char*>(data), dataLength));
            p->answerCallbacks()->run();
            return true;
        }
        if (command == p->writeCode()) {
            p->writeCallbacks()->run();
            return true;
        }
    }
    return false;
}
