#include "cutcpsocketiointerface.h"

#include "eventwait.h"
#include "linklog.h"
#include "packet.h"

#include <QNetworkProxy>
#include <QTcpSocket>

cuTcpSocketIOInterface::cuTcpSocketIOInterface(QObject* parent)
    : cuIOInterfaceImpl(parent), m_socket(new QTcpSocket(this))
{
    // A system proxy must never sit between us and the unit.
    m_socket->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    connect(m_socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::RemoteHostClosedError ||
                    error == QAbstractSocket::NetworkError) {
                    qCDebug(lcLink) << "connection lost:" << m_socket->errorString();
                    emit connectionLost();
                }
            });
    setMode(PacketMode);
}

cuTcpSocketIOInterface::~cuTcpSocketIOInterface()
{
    if (m_socket->isOpen()) {
        m_socket->close();
        m_socket->abort();
    }
    m_socket->deleteLater();
}

void cuTcpSocketIOInterface::setHostAddress(const QHostAddress& address)
{
    closeSocket();
    m_hostAddress = address;
}

void cuTcpSocketIOInterface::setPort(quint16 port)
{
    closeSocket();
    m_port = port;
}

void cuTcpSocketIOInterface::closeSocket()
{
    // abort() rather than close(): with unsent bytes close() lingers in the closing
    // state, which still counts as connected, and the next open() would keep the old peer.
    if (m_socket->isOpen() || m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}

bool cuTcpSocketIOInterface::isConnected() const
{
    if (!m_socket->isOpen())
        return false;
    const auto state = m_socket->state();
    return state != QAbstractSocket::UnconnectedState && state != QAbstractSocket::BoundState;
}

bool cuTcpSocketIOInterface::openImpl()
{
    if (!isConnected()) {
        qCDebug(lcLink) << "connecting to" << m_hostAddress << m_port;
        m_socket->connectToHost(m_hostAddress, m_port, QIODevice::ReadWrite);
    }
    const auto settled = [this] {
        const auto state = m_socket->state();
        return state == QAbstractSocket::ConnectedState ||
               state == QAbstractSocket::UnconnectedState;
    };
    cuWaitForEvents(settled, ConnectTimeoutMs);
    const bool connected = m_socket->state() == QAbstractSocket::ConnectedState;
    if (!connected)
        qCDebug(lcLink) << "connection failed:" << m_socket->errorString();
    return connected;
}

bool cuTcpSocketIOInterface::sendMsgImpl(quint8 address, quint8 command, quint8 dataLength,
                                         quint8* data)
{
    if (!isConnected())
        open();
    if (!isConnected())
        return false;
    // The reply is always parsed from its first byte.
    m_receiveBuffer.clear();
    m_socket->write(cuEncodePacket(address, command, dataLength, data));
    return true;
}

void cuTcpSocketIOInterface::setMode(int mode)
{
    if (mode == this->mode())
        return;
    if (mode == PacketMode) {
        // Queued, so that parsing runs from the event loop and never inside readyRead.
        connect(m_socket, &QIODevice::readyRead, this, &cuTcpSocketIOInterface::dataReady,
                Qt::QueuedConnection);
    } else {
        disconnect(m_socket, &QIODevice::readyRead, this, &cuTcpSocketIOInterface::dataReady);
    }
    storeMode(mode);
}

QByteArray cuTcpSocketIOInterface::readAll()
{
    if (mode() == PacketMode)
        return {};
    return m_socket->readAll();
}

bool cuTcpSocketIOInterface::write(const QByteArray& bytes)
{
    if (mode() == PacketMode)
        return false;
    m_socket->write(bytes);
    m_socket->flush();
    return true;
}

void cuTcpSocketIOInterface::dataReady()
{
    // A queued readyRead may arrive after a query has switched to direct mode: then the
    // bytes belong to the query's answer and stay in the socket.
    if (mode() != PacketMode)
        return;
    m_receiveBuffer.append(m_socket->readAll());
    cuTakePackets(m_receiveBuffer, [this](quint8 a, quint8 c, quint8 n, quint8* d) {
        emit msgReceived(a, c, n, d);
    });
}

QString cuTcpSocketIOInterface::query(const QString& command, int timeoutMs, bool* ok)
{
    if (ok)
        *ok = true;
    if (!open()) {
        if (ok)
            *ok = false;
        return {};
    }
    const int previousMode = mode();
    setMode(DirectMode);
    write(command.toLatin1());
    m_receiveBuffer.clear();
    QByteArray answer;
    cuWaitForEvents(
        [&] {
            answer.append(readAll());
            return answer.contains("\r\n");
        },
        timeoutMs);
    answer.append(readAll());
    setMode(previousMode);
    qCDebug(lcLink) << "query" << command.trimmed() << "->" << answer;
    return QString::fromUtf8(answer);
}
