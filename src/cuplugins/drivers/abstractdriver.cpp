#include "abstractdriver.h"

#include "driverslog.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
// How often a wait asks whether it is to be given up, when its owner may give it up.
constexpr int GiveUpCheckMs = 100;
} // namespace

AbstractDriver::AbstractDriver(QObject* parent)
    : cuIODeviceImpl(parent), m_answerTimer(new QTimer(this)), m_giveUpCheck(new QTimer(this))
{
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setTimerType(Qt::PreciseTimer);
    connect(m_answerTimer, &QTimer::timeout, this, [this] { m_timedOut = true; });
    // Its only job is to wake the dispatcher.
    m_giveUpCheck->setInterval(GiveUpCheckMs);
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

void AbstractDriver::sendRequest(quint8 code, QByteArray data, const DriverProperty_p* from)
{
    m_answerTimer->start(m_answerTimeout);
    m_answered = false;
    m_timedOut = false;
    m_rejected = false;
    m_awaitedCode = code;
    m_awaitedFrom = from;
    sendMsg(code, quint8(data.size()), reinterpret_cast<quint8*>(data.data()));
}

bool AbstractDriver::waitForAnswer()
{
    const bool mayGiveUp = bool(m_giveUp);
    if (mayGiveUp)
        m_giveUpCheck->start();
    while (!m_answered && !m_timedOut) {
        // Nothing outstanding would leave the dispatcher asleep for good.
        if (!m_answerTimer->isActive() || givingUp()) {
            m_giveUpCheck->stop();
            return false;
        }
        // Sleeps until an event arrives; the answer timer wakes it at the time-out.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (mayGiveUp)
        m_giveUpCheck->stop();
    if (!m_answered)
        qCDebug(lcDrivers) << "no answer from address" << address();
    return m_answered && !m_timedOut && !m_rejected;
}

bool AbstractDriver::handleMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data)
{
    if (address != this->address())
        return false;
    DriverProperty_p* owner = nullptr;
    bool read = false;
    for (DriverProperty_p* p : std::as_const(m_commands)) {
        if (command == p->readCode() || command == p->writeCode()) {
            owner = p;
            read = command == p->readCode();
            break;
        }
    }
    const bool stored = read && (owner->valueSize() == 0 || dataLength == owner->valueSize());

    // Only the answer to the outstanding request ends its wait: a late answer to an earlier
    // request, or a packet the module sends of its own accord, must not pass for it.
    if (!m_answered && !m_timedOut && command == m_awaitedCode) {
        const DriverProperty_p* from = m_awaitedFrom ? m_awaitedFrom : owner;
        bool ends = false;
        if (from && from->readCode() == command) {
            ends = owner == from;
            m_rejected = ends && !stored;
        } else if (from && from->writeCode() == command) {
            ends = true;
        }
        if (ends) {
            m_answerTimer->stop();
            m_answered = true;
        }
    }

    if (!owner)
        return false;
    if (read) {
        if (!stored) {
            qCDebug(lcDrivers) << "address" << address << "code" << command << "answered"
                               << dataLength << "bytes, expected" << owner->valueSize();
            return true;
        }
        owner->setReceivedData(QByteArray(reinterpret_cast<const char*>(data), dataLength));
        owner->answerCallbacks()->run();
        return true;
    }
    owner->writeCallbacks()->run();
    return true;
}
