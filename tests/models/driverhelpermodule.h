#pragma once
// A scripted module on a loopback unit for the DriverHelper tests: answers read requests from
// a table, acknowledges writes and commands, and records every packet the driver sends.
#include "drivers/abstractdriver.h"
#include "drivers/commondriver.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QHash>
#include <QHostAddress>
#include <QSet>
#include <QTest>
#include <functional>

class ScriptedModule
{
public:
    static constexpr quint8 Address = 9;

    // Answers to read requests (packets without data), by code.
    QHash<quint8, QByteArray> answers;
    // Whether writes (packets with data) are acknowledged with an empty packet of their code.
    bool acknowledgeWrites = true;
    // Data-less codes acknowledged as commands (command 0 serves to flush, see below).
    QSet<quint8> commands = {0};
    // Asked first; a non-empty result is sent back as it is.
    std::function<QByteArray(const PeerPacket&)> special;

    LoopbackPeer peer;
    cuTcpSocketIOInterface link;

    bool start()
    {
        if (!peer.listen())
            return false;
        peer.setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != Address)
                return {};
            if (special) {
                const QByteArray reply = special(p);
                if (!reply.isEmpty())
                    return reply;
            }
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(Address, p.command, answers.value(p.command));
            if (p.data.isEmpty() ? commands.contains(p.command) : acknowledgeWrites)
                return LoopbackPeer::packet(Address, p.command);
            return {};
        });
        link.setHostAddress(QHostAddress::LocalHost);
        link.setPort(peer.port());
        return true;
    }

    void attach(AbstractDriver& driver, int answerTimeoutMs = 100)
    {
        driver.setAddress(Address);
        driver.setInterface(&link);
        driver.setAnswerTimeout(answerTimeoutMs);
    }

    int mark() const { return int(peer.packets().size()); }
    QList<PeerPacket> since(int mark) const { return peer.packets().mid(mark); }

    // Everything the driver sent before has reached the module once the acknowledgement of
    // command 0 is back (one connection, in order); the flush is the last packet then.
    bool flush(CommonDriver& driver) const
    {
        bool ok = false;
        driver.command0()->executeSync(&ok, 3);
        return ok;
    }
    // The packets sent since mark, up to (not including) a flush.
    QList<PeerPacket> flushedSince(CommonDriver& driver, int mark, bool* ok) const
    {
        *ok = flush(driver);
        QList<PeerPacket> packets = since(mark);
        if (*ok)
            packets.removeLast();
        return packets;
    }
};
