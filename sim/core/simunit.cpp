#include "simunit.h"

#include "simenvironment.h"
#include "simlog.h"
#include "simmodule.h"
#include "simstreamparser.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// One client connection with its own byte stream.
struct SimClient
{
    int id = 0;
    QTcpSocket* socket = nullptr;
    SimStreamParser parser;
    int packets = 0;
    bool closing = false; // closed by a fault: nothing more is read or answered
};

namespace {

QString peerText(const QTcpSocket* socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace

// The server is a child, so that it follows the unit to another thread; it is opened and
// closed with the power, never rebuilt.
SimUnit::SimUnit(SimEnvironment* environment, QObject* parent)
    : QObject(parent), m_environment(environment), m_server(new QTcpServer(this))
{
    m_server->setProxy(QNetworkProxy::NoProxy);
    connect(m_server, &QTcpServer::newConnection, this, &SimUnit::onNewConnection);
}

SimUnit::~SimUnit()
{
    stop();
}

bool SimUnit::start(QString* error)
{
    if (m_server->isListening())
        return true;
    if (m_poweredOff) {
        // Powering on again: the modules start from their power-on state.
        resetModules();
        m_locked = false;
        m_poweredOff = false;
    }
    if (!m_server->listen(m_listenAddress, m_port)) {
        const QString message = QStringLiteral("cannot listen on %1 port %2: %3")
                                    .arg(m_listenAddress.toString())
                                    .arg(m_port)
                                    .arg(m_server->errorString());
        qCWarning(lcSim).noquote() << message;
        if (error)
            *error = message;
        return false;
    }
    return true;
}

void SimUnit::stop()
{
    m_server->close();
    const QList<SimClient*> clients = m_clients;
    m_clients.clear();
    for (SimClient* client : clients) {
        client->socket->disconnect(this);
        client->socket->abort();
        client->socket->deleteLater();
        delete client;
    }
}

bool SimUnit::isListening() const
{
    return m_server->isListening();
}

quint16 SimUnit::serverPort() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

bool SimUnit::addModule(SimModule* module)
{
    if (!module || m_modules.contains(module->address()))
        return false;
    module->setParent(this);
    m_modules.insert(module->address(), module);
    connect(module, &SimModule::eepromStored, this,
            [this, module] { emit moduleStateStored(module->address()); });
    return true;
}

bool SimUnit::removeModule(quint8 address)
{
    SimModule* module = m_modules.take(address);
    if (!module)
        return false;
    delete module;
    return true;
}

void SimUnit::resetModules()
{
    for (SimModule* module : std::as_const(m_modules))
        module->reset();
}

void SimUnit::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto* client = new SimClient;
        client->id = m_nextClientId++;
        client->socket = socket;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clients.append(client);
        qCInfo(lcSim).noquote()
            << QStringLiteral("connection %1 from %2").arg(client->id).arg(peerText(socket));
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { onReadyRead(client); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, client] { onDisconnected(client); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(client);
    }
}

void SimUnit::onDisconnected(SimClient* client)
{
    if (!m_clients.removeOne(client))
        return;
    qCInfo(lcSim).noquote() << QStringLiteral("connection %1 closed").arg(client->id);
    client->socket->disconnect(this);
    client->socket->deleteLater();
    delete client;
    if (m_poweredOff && m_clients.isEmpty())
        emit poweredOff();
}

void SimUnit::onReadyRead(SimClient* client)
{
    const QByteArray bytes = client->socket->readAll();
    if (client->closing || m_poweredOff)
        return;
    if (m_faults.mute)
        return;
    client->parser.append(bytes);
    const auto hasModule = [this](quint8 address) { return m_modules.contains(address); };
    SimStreamParser::Item item;
    // The client may go away while we answer (power off): stop as soon as it is no longer ours.
    while (m_clients.contains(client) && !client->closing && !m_poweredOff &&
           client->parser.next(&item, hasModule)) {
        if (item.kind == SimStreamParser::Item::Packet) {
            handlePacket(client, item.address, item.command, item.data);
            continue;
        }
        if (item.overlong) {
            qCInfo(lcSim).noquote()
                << QStringLiteral("connection %1: overlong text command").arg(client->id);
            deliver(client, "UNKNOWN COMMAND\r\n", false);
            continue;
        }
        if (item.text.trimmed().isEmpty())
            continue;
        qCInfo(lcSim).noquote() << QStringLiteral("connection %1: %2")
                                       .arg(client->id)
                                       .arg(QString::fromLatin1(item.text));
        const QByteArray answer = textCommand(item.text, client->socket->peerAddress());
        deliver(client, answer + "\r\n", false);
        if (m_poweredOff) // the rest of the stream goes with the power
            return;
    }
}

void SimUnit::handlePacket(SimClient* client, quint8 address, quint8 command,
                           const QByteArray& data)
{
    ++client->packets;
    const bool closeAfter =
        m_faults.closeAfterPackets > 0 && client->packets >= m_faults.closeAfterPackets;
    if (closeAfter)
        client->closing = true;

    SimModule* module = m_modules.value(address);
    const QList<SimModule::Answer> answers =
        module ? module->handlePacket(command, data) : QList<SimModule::Answer>{};
    if (m_verbose) {
        qCInfo(lcSim).noquote() << QStringLiteral("connection %1: packet to %2 code %3, %4 "
                                                  "bytes: %5 answer(s)")
                                       .arg(client->id)
                                       .arg(address)
                                       .arg(command)
                                       .arg(data.size())
                                       .arg(answers.size());
    }

    QByteArray bytes;
    for (const SimModule::Answer& answer : answers) {
        const quint64 n = ++m_moduleAnswers;
        const auto every = [n](int period) { return period > 0 && n % quint64(period) == 0; };
        if (every(m_faults.dropEvery) ||
            (m_faults.dropProbability > 0 &&
             m_environment->random().generateDouble() < m_faults.dropProbability))
            continue;
        QByteArray payload = answer.data.left(255);
        if (every(m_faults.wrongLengthEvery)) {
            if (payload.isEmpty())
                payload.append('\0');
            else
                payload.chop(1);
        }
        if (every(m_faults.garbageEvery)) {
            for (int i = 0; i < m_faults.garbageBytes; ++i)
                bytes.append(char(m_environment->random().bounded(256)));
        }
        bytes.append(char(module->address()));
        bytes.append(char(answer.command));
        bytes.append(char(payload.size()));
        bytes.append(payload);
    }
    if (!bytes.isEmpty() || closeAfter)
        deliver(client, bytes, closeAfter);
}

// Sends bytes to one client, after the configured latency, and closes the connection
// afterwards when a fault asks for it.
void SimUnit::deliver(SimClient* client, const QByteArray& bytes, bool closeAfter)
{
    QTcpSocket* socket = client->socket;
    const auto send = [socket, bytes, closeAfter] {
        if (!bytes.isEmpty())
            socket->write(bytes);
        if (closeAfter)
            socket->disconnectFromHost();
    };
    if (m_faults.latencyMs > 0)
        QTimer::singleShot(m_faults.latencyMs, socket, send);
    else
        send();
}

void SimUnit::powerOff()
{
    qCInfo(lcSim) << "powered off";
    // Closing keeps the server object: this may run inside its own newConnection handling.
    m_server->close();
    if (m_clients.isEmpty()) {
        emit poweredOff();
        return;
    }
    const QList<SimClient*> clients = m_clients; // a close may drop a client from the list
    for (SimClient* client : clients) {
        if (!m_clients.contains(client))
            continue;
        client->closing = true;
        QTcpSocket* socket = client->socket; // the client may be gone after the next line
        socket->disconnectFromHost();        // writes what is left, then closes
        // A peer that never reads must not keep the unit half-alive.
        QTimer::singleShot(1000, socket, [socket] { socket->abort(); });
    }
}
