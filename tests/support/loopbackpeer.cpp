#include "loopbackpeer.h"

#include <QHostAddress>

LoopbackPeer::LoopbackPeer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackPeer::onNewConnection);
}

LoopbackPeer::~LoopbackPeer()
{
    // The sockets would otherwise report their end to members that are already gone.
    for (QTcpSocket* client : std::as_const(m_clients)) {
        client->disconnect(this);
        delete client;
    }
}

bool LoopbackPeer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QByteArray LoopbackPeer::packet(quint8 address, quint8 command, const QByteArray& data)
{
    QByteArray bytes;
    bytes.append(char(address));
    bytes.append(char(command));
    bytes.append(char(quint8(data.size())));
    bytes.append(data);
    return bytes;
}

void LoopbackPeer::sendToClient(const QByteArray& bytes)
{
    if (m_clients.isEmpty())
        return;
    m_clients.last()->write(bytes);
    m_clients.last()->flush();
}

void LoopbackPeer::closeClients()
{
    for (QTcpSocket* client : std::as_const(m_clients))
        client->abort();
    m_pending.clear();
}

void LoopbackPeer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        m_pending.clear();
        m_clients.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_clients.removeOne(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackPeer::onReadyRead(QTcpSocket* socket)
{
    const QByteArray bytes = socket->readAll();
    m_raw.append(bytes);
    m_pending.append(bytes);
    for (;;) {
        if (m_pending.isEmpty())
            return;
        const char first = m_pending.at(0);
        if (first >= 'A' && first <= 'z') {
            const qsizetype end = m_pending.indexOf("\r\n");
            if (end < 0)
                return;
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 2);
            m_lines.append(line);
            if (m_textResponder) {
                const QByteArray answer = m_textResponder(line);
                if (!answer.isEmpty())
                    socket->write(answer);
            }
            continue;
        }
        if (m_pending.size() < 3)
            return;
        const int length = quint8(m_pending.at(2));
        if (m_pending.size() < 3 + length)
            return;
        PeerPacket p{quint8(m_pending.at(0)), quint8(m_pending.at(1)), m_pending.mid(3, length)};
        m_pending.remove(0, 3 + length);
        m_packets.append(p);
        if (m_packetResponder) {
            const QByteArray answer = m_packetResponder(p);
            if (!answer.isEmpty())
                socket->write(answer);
        }
    }
}
