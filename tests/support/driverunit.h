#pragma once
// The stand-in unit of the driver tests: a loopback peer, a link to it, drivers attached at
// their bus address with a short answer time-out, and a scripted module answering at one.
#include "drivers/abstractdriver.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QSet>
#include <QVariant>
#include <functional>

struct DriverUnit
{
    LoopbackPeer peer;
    cuTcpSocketIOInterface link;
    // The scripted module: reads (packets without data) are answered from answers; writes and
    // the data-less commands listed are acknowledged while acknowledge holds. special, when
    // set, is asked first: a non-empty result is the reply.
    QHash<quint8, QByteArray> answers;
    QSet<quint8> commands;
    bool acknowledge = true;
    std::function<QByteArray(const PeerPacket&)> special;

    bool start()
    {
        link.setHostAddress(QHostAddress::LocalHost);
        if (!peer.listen())
            return false;
        link.setPort(peer.port());
        return true;
    }
    void script(quint8 address)
    {
        peer.setPacketResponder([this, address](const PeerPacket& p) -> QByteArray {
            const QByteArray reply = special && p.address == address ? special(p) : QByteArray();
            if (p.address != address || !reply.isEmpty())
                return reply;
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(address, p.command, answers.value(p.command));
            if (acknowledge && (!p.data.isEmpty() || commands.contains(p.command)))
                return LoopbackPeer::packet(address, p.command);
            return {};
        });
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
