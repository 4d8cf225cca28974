#pragma once
// Request machinery of every module driver: sends a property's request through the
// endpoint, waits for the answer with a time-out while the event loop runs, and hands
// each packet of the driver's address to the property that owns its command code.
#include "driverproperty.h"
#include "link/cuiodevice.h"

#include <QList>

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
    void sendRequest(quint8 code, QByteArray data);
    // Sleeps in the event loop until a packet of this address arrives (true) or the
    // time-out runs out (false).
    bool waitForAnswer();

    const QList<DriverProperty_p*>& properties() const { return m_commands; }

public slots:
    bool handleMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data) override;

private:
    bool m_answered = false;
    bool m_timedOut = false;
    int m_answerTimeout = DefaultAnswerTimeoutMs;
    QTimer* m_answerTimer;
    QList<DriverProperty_p*> m_commands;
};
