#include "simcontrol.h"

#include "simlog.h"
#include "simoptions.h"
#include "simunit.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A control connection that never ends its line is cut off rather than buffered forever.
constexpr qint64 MaxLineLength = 1024;

const QStringList FaultOptions = {
    "--latency-ms",    "--drop-probability", "--drop-every", "--wrong-length-every",
    "--garbage-every", "--close-after",      "--mute"};

} // namespace

SimControl::SimControl(SimUnit* unit, QObject* parent)
    : QObject(parent), m_unit(unit), m_server(new QTcpServer(this))
{
    m_server->setProxy(QNetworkProxy::NoProxy);
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool SimControl::start(quint16 port, QString* error)
{
    if (m_server->listen(QHostAddress::LocalHost, port))
        return true;
    *error = QStringLiteral("cannot listen for control connections on 127.0.0.1 port %1: %2")
                 .arg(port)
                 .arg(m_server->errorString());
    return false;
}

quint16 SimControl::serverPort() const
{
    return m_server->serverPort();
}

void SimControl::onReadyRead(QTcpSocket* socket)
{
    while (socket->canReadLine())
        socket->write(execute(socket->readLine().trimmed()) + '\n');
    if (socket->bytesAvailable() > MaxLineLength)
        socket->abort();
}

QByteArray SimControl::execute(const QByteArray& line)
{
    const QStringList words = QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts);
    const QString command = words.value(0);
    if (command == "faults") {
        for (const QString& word : words.mid(1)) {
            if (word.startsWith("--") && !FaultOptions.contains(word))
                return "error: not a fault option: " + word.toUtf8();
        }
        SimOptions options;
        QString output, error;
        if (parseSimOptions(QStringList{"cu-tavik-sim"} + words.mid(1), &options, &output,
                            &error) != SimOptionsResult::Run)
            return "error: " + error.toUtf8();
        m_unit->setFaults(options.faults);
        qCInfo(lcSim).noquote() << "faults set:" << words.mid(1).join(' ');
        return "ok";
    }
    if (command == "restart") {
        bool ok = false;
        const int ms = words.value(1).toInt(&ok);
        if (words.size() != 2 || !ok || ms < 0 || ms > 600000)
            return "error: restart needs a pause of 0 to 600000 ms";
        qCInfo(lcSim) << "restart: the unit is away for" << ms << "ms";
        m_unit->stop();
        QTimer::singleShot(ms, m_unit, [unit = m_unit] {
            QString error;
            if (!unit->start(&error))
                qCWarning(lcSim).noquote() << "restart:" << error;
        });
        return "ok";
    }
    if (command == "connections" && words.size() == 1)
        return QByteArray::number(m_unit->connectionCount());
    return "error: unknown command: " + line;
}
