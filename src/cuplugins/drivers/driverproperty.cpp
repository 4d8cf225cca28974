#include "driverproperty.h"

#include "abstractdriver.h"

int DriverCallbackList::add(std::function<void()> callback)
{
    m_callbacks.insert(++m_lastId, std::move(callback));
    return m_lastId;
}

bool DriverCallbackList::remove(int id)
{
    return m_callbacks.remove(id) > 0;
}

void DriverCallbackList::run() const
{
    // A copy: a callback may add or remove callbacks while the list runs.
    const auto callbacks = m_callbacks;
    for (const auto& callback : callbacks)
        callback();
}

DriverProperty_p::DriverProperty_p(AbstractDriver* driver, quint8 readCode, quint8 writeCode)
    : m_driver(driver), m_readCode(readCode), m_writeCode(writeCode)
{
    driver->registerProperty(this);
}

void DriverProperty_p::send(quint8 code, QByteArray data)
{
    m_driver->sendRequest(code, data, this);
    m_lastSent = data;
}

QByteArray DriverProperty_p::exchange(quint8 code, QByteArray data, bool* ok, int tries)
{
    bool answered = false;
    while (!answered && tries >= 1 && !m_driver->givingUp()) {
        send(code, data);
        --tries;
        answered = m_driver->waitForAnswer();
    }
    if (ok)
        *ok = answered;
    return m_received;
}
