#include "controlunitlistprovider.h"

#include "linklog.h"

#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

namespace {
const QByteArray DiscoveryRequest = "cu-software";
const QString ThisComputer = QStringLiteral("127.0.0.1");
} // namespace

ControlUnitListProvider::ControlUnitListProvider(QObject* parent)
    : QObject(parent), m_searchTimer(new QTimer(this))
{
    m_searchTimer->setSingleShot(true);
    connect(m_searchTimer, &QTimer::timeout, this, &ControlUnitListProvider::complete);
}

void ControlUnitListProvider::setSearchDurationMs(int ms)
{
    m_searchDurationMs = qMax(0, ms);
}

void ControlUnitListProvider::search()
{
    qCDebug(lcLink) << "availableControlUnits";
    stop();
    m_units.clear();
    m_answers.clear();
    // Owned by this object, so that a provider destroyed mid-search frees the port with it.
    m_server = new QTcpServer(this);
    m_server->setProxy(QNetworkProxy::NoProxy);
    if (!m_server->listen(QHostAddress::Any, m_answerPort)) {
        qCDebug(lcLink) << "cannot take answers on port" << m_answerPort << "-"
                        << m_server->errorString();
        stop();
        emit error();
        return;
    }
    connect(m_server, &QTcpServer::newConnection, this, &ControlUnitListProvider::acceptAnswers);
    qCDebug(lcLink) << "before udpSocket create";
    broadcast();
    m_searchTimer->start(m_searchDurationMs);
}

void ControlUnitListProvider::stop()
{
    m_searchTimer->stop();
    // Closes the listening socket and every answer connection still open with it; never
    // called from the server's or its sockets' own signals.
    delete m_server;
    m_server = nullptr;
}

void ControlUnitListProvider::broadcast()
{
    QUdpSocket udp;
    udp.setProxy(QNetworkProxy::NoProxy);
    const QNetworkInterface::InterfaceFlags needed =
        QNetworkInterface::IsUp | QNetworkInterface::IsRunning | QNetworkInterface::CanBroadcast;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlags(needed))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.broadcast().isNull())
                continue;
            // A datagram that cannot go out only means no unit answers on that network.
            udp.writeDatagram(DiscoveryRequest, entry.broadcast(), m_broadcastPort);
        }
    }
}

void ControlUnitListProvider::acceptAnswers()
{
    // Each answer has its own deadline, so a silent peer holds up neither the others nor
    // the thread. Answers keep the order of their connections, whenever their bytes come.
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        const int order = int(m_answers.size());
        m_answers.append(QString());
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [socket] {
            qCDebug(lcLink) << "silent answer from" << socket->peerAddress().toString();
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, deadline, order] {
            deadline->stop();
            socket->disconnect(this);
            socket->readAll();
            takeAnswer(order, socket->peerAddress());
            socket->close();
            socket->deleteLater();
        });
        deadline->start(AnswerTimeoutMs);
    }
}

void ControlUnitListProvider::takeAnswer(int order, const QHostAddress& peer)
{
    bool ipv4 = false;
    const quint32 address = peer.toIPv4Address(&ipv4);
    // Units speak IPv4; an address without an IPv4 form names no unit we could connect to.
    if (!ipv4) {
        qCDebug(lcLink) << "answer from a peer without IPv4 address dropped:" << peer;
        return;
    }
    m_answers[order] = QHostAddress(address).toString();
}

void ControlUnitListProvider::complete()
{
    stop();
    QStringList local;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            local << address.toString();
    }
    // This computer answering on several addresses is one entry, at its first answer.
    for (const QString& unit : std::as_const(m_answers)) {
        const QString name = local.contains(unit) ? ThisComputer : unit;
        if (!unit.isEmpty() && !m_units.contains(name))
            m_units << name;
    }
    qCDebug(lcLink) << "control units found:" << m_units;
    emit ready();
}
