#include "simfirmwareupdate.h"

#include "core/simlog.h"
#include "core/simmodule.h"
#include "simupdatemessages.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int CloseTimeoutMs = 5000;

} // namespace

SimFirmwareUpdate::SimFirmwareUpdate(QObject* parent)
    : QObject(parent), m_stepTimer(new QTimer(this)), m_imageTimer(new QTimer(this))
{
    m_stepTimer->setInterval(m_stepIntervalMs);
    connect(m_stepTimer, &QTimer::timeout, this, &SimFirmwareUpdate::nextStep);
    m_imageTimer->setSingleShot(true);
    connect(m_imageTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no complete image within %1 ms").arg(m_imageTimeoutMs));
    });
}

void SimFirmwareUpdate::setPort(quint16 port)
{
    m_port = port;
}

void SimFirmwareUpdate::setStepIntervalMs(int ms)
{
    m_stepIntervalMs = qMax(1, ms);
    m_stepTimer->setInterval(m_stepIntervalMs);
}

void SimFirmwareUpdate::setImageTimeoutMs(int ms)
{
    m_imageTimeoutMs = qMax(1, ms);
}

bool SimFirmwareUpdate::start(const QHostAddress& client, SimModule* module)
{
    if (isRunning()) {
        qCWarning(lcSim) << "update: one is running already";
        return false;
    }
    if (!module) {
        qCWarning(lcSim) << "update: no module to update";
        return false;
    }
    m_module = module;
    m_received.clear();
    m_steps.clear();
    m_socket = new QTcpSocket(this);
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        qCInfo(lcSim) << "update: connected to the file server"
                      << m_socket->peerAddress().toString() << "for module"
                      << (m_module ? m_module->address() : 0);
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &SimFirmwareUpdate::readImage);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        // Nothing can reach the server any more; only the log learns why.
        qCWarning(lcSim) << "update:" << m_socket->errorString();
        finish(false);
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        qCWarning(lcSim) << "update: the file server closed the connection";
        finish(false);
    });
    m_imageTimer->start(m_imageTimeoutMs);
    m_socket->connectToHost(client, m_port);
    return true;
}

void SimFirmwareUpdate::readImage()
{
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    // The server sends one message; anything after the image is not for us.
    if (!m_imageTimer->isActive())
        return;
    m_received += bytes;
    const FileDataParse parse = parseFileDataMessage(m_received);
    switch (parse.result) {
    case FileDataParse::Result::Incomplete:
        return;
    case FileDataParse::Result::Invalid:
        fail(parse.error);
        return;
    case FileDataParse::Result::Complete:
        break;
    }
    m_imageTimer->stop();
    m_received.clear();
    if (parse.image.isEmpty()) {
        fail(QStringLiteral("empty image"));
        return;
    }
    startFlashing(parse.image.size());
}

void SimFirmwareUpdate::startFlashing(qsizetype imageSize)
{
    const quint8 address = m_module ? m_module->address() : 0;
    qCInfo(lcSim) << "update: image of" << imageSize << "bytes for module" << address;
    // The application reads one report per arrival, so each goes out on a step of its own.
    m_steps << encodeStatusReport(QStringLiteral("Image received (%1 bytes)").arg(imageSize))
            << encodeStatusReport(QStringLiteral("Erasing module %1").arg(address))
            << encodeStatusReport(QStringLiteral("Writing module %1").arg(address));
    for (int percent = 0; percent <= 100; percent += 20)
        m_steps << encodeProgressReport(percent);
    m_steps << encodeStatusReport(QStringLiteral("Verifying module %1").arg(address));
    // The completion itself is sent by the last step.
    m_steps << QByteArray();
    m_stepTimer->start();
}

void SimFirmwareUpdate::nextStep()
{
    if (!m_socket || m_steps.isEmpty()) {
        m_stepTimer->stop();
        return;
    }
    const QByteArray step = m_steps.takeFirst();
    if (!step.isEmpty()) {
        send(step);
        return;
    }
    m_stepTimer->stop();
    if (!m_module) {
        fail(QStringLiteral("the module was removed during the update"));
        return;
    }
    const QString version = nextFirmwareVersion(m_module->identity().firmware);
    m_module->setFirmwareVersion(version);
    qCInfo(lcSim) << "update: module" << m_module->address() << "now runs firmware" << version;
    send(encodeCompletedReport());
    finish(true);
}

void SimFirmwareUpdate::send(const QByteArray& message)
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(message);
}

void SimFirmwareUpdate::fail(const QString& error)
{
    qCWarning(lcSim) << "update failed:" << error;
    send(encodeErrorReport(error));
    finish(false);
}

void SimFirmwareUpdate::finish(bool ok)
{
    if (!m_socket)
        return;
    m_stepTimer->stop();
    m_imageTimer->stop();
    m_steps.clear();
    m_received.clear();
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    // Whoever owns this update may delete it as soon as it has finished; the socket must
    // not go with it while its last report is still in the write buffer. It leaves this
    // object for the owner's parent and deletes itself once closed. An update without a
    // parent keeps it: nobody else would ever delete it.
    if (parent())
        socket->setParent(parent());
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // What was written still goes out before the close, unless the server stops
        // reading; then it is cut off.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(CloseTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
    emit finished(ok);
}

QString SimFirmwareUpdate::nextFirmwareVersion(const QString& current)
{
    static const QRegularExpression lastNumber(QStringLiteral("(\\d+)(\\D*)$"));
    const QRegularExpressionMatch match = lastNumber.match(current);
    if (!match.hasMatch())
        return current.isEmpty() ? QStringLiteral("1") : current + QStringLiteral(".1");
    bool ok = false;
    const qulonglong number = match.captured(1).toULongLong(&ok);
    if (!ok) // more digits than a number holds: start a new component instead
        return current + QStringLiteral(".1");
    const QString next =
        QString::number(number + 1).rightJustified(match.capturedLength(1), QLatin1Char('0'));
    return current.left(match.capturedStart(1)) + next + match.captured(2);
}
