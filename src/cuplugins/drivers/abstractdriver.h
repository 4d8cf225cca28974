#pragma once
// Request machinery of every module driver: sends a property's request through the
// endpoint, waits for the answer with a time-out while the event loop runs, and hands
// each packet of the driver's address to the property that owns its command code. A wait
// ends well only on the answer to its own request: the requesting property's read code
// with a value it stored, or its write code (the acknowledgement).
#include "driverproperty.h"
#include "link/cuiodevice.h"

#include <QList>
#include <functional>

class QTimer;

class AbstractDriver : public cuIODeviceImpl
{
    Q_OBJECT
public:
    static constexpr int DefaultAnswerTimeoutMs = 500;

    explicit AbstractDriver(QObject* parent = nullptr);

    int answerTimeout() const { return m_answerTimeout; }
    void setAnswerTimeout(int ms) { m_answerTimeout = ms; }

    // Appends p; an older property with the same read or write code (below 255) leaves
    // the list, so every code belongs to one property at most. The list does not own p:
    // concrete drivers hold their properties as members, built in declaration order (which
    // is therefore the order of registration) and gone with the driver.
    void registerProperty(DriverProperty_p* p);
    // Starts the answer time-out and sends one packet; a new request takes over the wait.
    // The wait is for an answer with the same code, to the property that owns the code
    // (or to `from`, when given).
    void sendRequest(quint8 code, QByteArray data, const DriverProperty_p* from = nullptr);
    // Sleeps in the event loop until the answer to the outstanding request has been taken
    // (true), or the time-out runs out, the answer had the wrong length, or the wait was
    // given up (false). Packets of other codes are handled on the way but end nothing.
    bool waitForAnswer();

    // Asked before every try and after every event of a wait; while it holds, waits end at
    // once as unanswered and no further tries are sent. Lets the owner of a driver end a
    // long series of tries when its thread is asked to stop.
    void setGiveUp(std::function<bool()> giveUp) { m_giveUp = std::move(giveUp); }
    bool givingUp() const { return m_giveUp && m_giveUp(); }

    const QList<DriverProperty_p*>& properties() const { return m_commands; }

public slots:
    bool handleMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data) override;

private:
    bool m_answered = false;
    bool m_timedOut = false;
    // The awaited answer came, but with a length its property does not take.
    bool m_rejected = false;
    quint8 m_awaitedCode = DriverProperty_p::NoCode;
    const DriverProperty_p* m_awaitedFrom = nullptr;
    int m_answerTimeout = DefaultAnswerTimeoutMs;
    QTimer* m_answerTimer;
    // Wakes a wait now and then to ask m_giveUp; only runs while one is set.
    QTimer* m_giveUpCheck;
    std::function<bool()> m_giveUp;
    QList<DriverProperty_p*> m_commands;
};
