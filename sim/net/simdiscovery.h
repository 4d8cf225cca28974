#pragma once
// Makes the simulated unit findable: it listens for the application's discovery broadcast
// and answers by opening a TCP connection back to the sender, as a real unit does.
#include "link/unitports.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QUdpSocket;

class SimDiscoveryResponder : public QObject
{
    Q_OBJECT
public:
    explicit SimDiscoveryResponder(QObject* parent = nullptr);

    // Binds the UDP port on every IPv4 address; false if it cannot be bound.
    bool start(quint16 udpPort = UnitPorts::DiscoveryBroadcast,
               quint16 answerPort = UnitPorts::DiscoveryAnswer);
    // What the answer connection carries (the application only needs a byte or more).
    void setAnswerText(const QByteArray& text);

signals:
    // An answer connection to peer delivered its text.
    void answered(QHostAddress peer);

private:
    void readDatagrams();
    void answer(const QHostAddress& peer);

    QUdpSocket* m_udp = nullptr;
    quint16 m_answerPort = UnitPorts::DiscoveryAnswer;
    QByteArray m_answerText = "cu-tavik-sim";
    int m_openAnswers = 0;
};
