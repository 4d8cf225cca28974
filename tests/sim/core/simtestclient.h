#pragma once
// A raw client of the simulated unit for tests: writes text commands and packets in the
// unit's byte layout (LoopbackPeer::packet) and collects what comes back, waiting in the
// event loop (the unit lives on the same thread).
#include "loopbackpeer.h"

#include <QSignalSpy>
#include <QTest>

class SimTestClient
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000);
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // The next line without its CR LF (empty on time-out).
    QByteArray query(const QByteArray& text) { return send(text + "\r\n"), line(); }
    QByteArray line(int timeoutMs = 2000)
    {
        if (!waitFor([this] { return received.contains("\r\n"); }, timeoutMs))
            return {};
        const QByteArray text = received.left(received.indexOf("\r\n"));
        received.remove(0, text.size() + 2);
        return text;
    }
    // Sends one packet and waits for its answer packet (none: an empty list).
    QList<PeerPacket> request(quint8 address, quint8 command, const QByteArray& data = {},
                              int timeoutMs = 2000)
    {
        send(LoopbackPeer::packet(address, command, data));
        return packets(timeoutMs);
    }
    QByteArray read(quint8 address, quint8 code) { return request(address, code).value(0).data; }
    QList<PeerPacket> packets(int timeoutMs = 2000)
    {
        const auto whole = [this] {
            return received.size() >= 3 && received.size() >= 3 + quint8(received.at(2));
        };
        if (!waitFor(whole, timeoutMs))
            return {};
        const int n = quint8(received.at(2));
        const PeerPacket packet{quint8(received.at(0)), quint8(received.at(1)), received.mid(3, n)};
        received.remove(0, 3 + n);
        return {packet};
    }
    // Whether nothing arrives within ms (the unit runs meanwhile).
    bool silentFor(int ms)
    {
        QSignalSpy(&socket, &QTcpSocket::readyRead).wait(ms);
        received += socket.readAll();
        return received.isEmpty();
    }
    bool waitClosed()
    {
        return socket.state() == QAbstractSocket::UnconnectedState ||
               QSignalSpy(&socket, &QTcpSocket::disconnected).wait(3000);
    }

    QTcpSocket socket;
    QByteArray received;

private:
    template <typename Done> bool waitFor(Done done, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return received += socket.readAll(), done(); }, timeoutMs);
    }
};
