#pragma once
// A raw client of the simulated unit for tests: writes text commands and packets in the
// unit's byte layout and collects what comes back, waiting in the event loop (the unit lives
// on the same thread).
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

struct TestPacket
{
    quint8 address;
    quint8 command;
    QByteArray data;
};

class SimTestClient
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000) || socket.state() == QAbstractSocket::ConnectedState;
    }

    static QByteArray packet(quint8 address, quint8 command, const QByteArray& data = {})
    {
        QByteArray bytes;
        bytes.append(char(address)).append(char(command)).append(char(data.size())).append(data);
        return bytes;
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    // Waits up to timeoutMs for received bytes to hold a CR LF; returns the line without it
    // (empty on time-out).
    QByteArray query(const QByteArray& text, int timeoutMs = 2000)
    {
        send(text + "\r\n");
        return line(timeoutMs);
    }
    QByteArray line(int timeoutMs = 2000)
    {
        if (!waitFor([this] { return received.contains("\r\n"); }, timeoutMs))
            return {};
        const qsizetype end = received.indexOf("\r\n");
        const QByteArray text = received.left(end);
        received.remove(0, end + 2);
        return text;
    }

    // Sends one packet and waits for count answer packets.
    QList<TestPacket> request(quint8 address, quint8 command, const QByteArray& data = {},
                              int count = 1, int timeoutMs = 2000)
    {
        send(packet(address, command, data));
        return packets(count, timeoutMs);
    }
    QList<TestPacket> packets(int count, int timeoutMs = 2000)
    {
        QList<TestPacket> list;
        waitFor([&] { return parse(&list, count); }, timeoutMs);
        parse(&list, count);
        return list;
    }

    // Whether anything arrives within ms (lets the unit run meanwhile).
    bool silentFor(int ms)
    {
        pump(ms);
        return received.isEmpty();
    }
    void pump(int ms)
    {
        QSignalSpy spy(&socket, &QTcpSocket::readyRead);
        spy.wait(ms);
        received += socket.readAll();
    }

    bool waitClosed(int timeoutMs = 3000)
    {
        if (socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        QSignalSpy spy(&socket, &QTcpSocket::disconnected);
        return spy.wait(timeoutMs) || socket.state() == QAbstractSocket::UnconnectedState;
    }

    QTcpSocket socket;
    QByteArray received;

private:
    template <typename Done> bool waitFor(Done done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        received += socket.readAll();
        while (!done()) {
            const int left = timeoutMs - int(timer.elapsed());
            if (left <= 0)
                return false;
            QSignalSpy spy(&socket, &QTcpSocket::readyRead);
            if (socket.bytesAvailable() == 0)
                spy.wait(left);
            received += socket.readAll();
        }
        return true;
    }
    // Moves complete packets from received into list until it holds count.
    bool parse(QList<TestPacket>* list, int count)
    {
        while (list->size() < count && received.size() >= 3) {
            const int n = quint8(received.at(2));
            if (received.size() < 3 + n)
                break;
            list->append({quint8(received.at(0)), quint8(received.at(1)), received.mid(3, n)});
            received.remove(0, 3 + n);
        }
        return list->size() >= count;
    }
};
