#pragma once
// The stand-in unit of the driver tests: a loopback peer, a link to it, and drivers attached
// at their bus address with a short answer time-out.
#include "drivers/abstractdriver.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QVariant>

struct DriverUnit
{
    LoopbackPeer peer;
    cuTcpSocketIOInterface link;

    bool start()
    {
        link.setHostAddress(QHostAddress::LocalHost);
        return peer.listen() && (link.setPort(peer.port()), true);
    }
    void attach(AbstractDriver& driver, quint8 address, int timeoutMs = 30)
    {
        driver.setAddress(address);
        driver.setInterface(&link);
        driver.setAnswerTimeout(timeoutMs);
    }
    // Command codes of the packets the unit received, in order.
    QList<quint8> codes() const
    {
        QList<quint8> codes;
        for (const PeerPacket& p : peer.packets())
            codes << p.command;
        return codes;
    }
};

// The byte image of a value held in a variant (a signal argument, a structure field).
inline QByteArray bytesOf(const QVariant& value)
{
    return QByteArray(static_cast<const char*>(value.constData()), value.metaType().sizeOf());
}
