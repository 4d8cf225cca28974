#include "fileserver.h"

#include "firmwarelog.h"

#include <QDataStream>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTcpSocket>

FileServer::FileServer(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this))
{
}

void FileServer::startServer(quint16 port)
{
    if (m_server) {
        // Closed at once, so that the port is free for the new server.
        m_server->close();
        m_server->deleteLater();
    }
    m_server = new QTcpServer(this);
    m_network->setProxy(QNetworkProxy::NoProxy);
    connect(m_server, &QTcpServer::newConnection, this, &FileServer::onNewConnection);
    if (!m_server->listen(QHostAddress::Any, port)) {
        emit errorOccurred(QStringLiteral("Can't start file server: ") + m_server->errorString());
        return;
    }
    setStatus(QStringLiteral("Server was started at port %1").arg(port));
}

void FileServer::stopServer()
{
    qCDebug(lcFirmware) << "stop server";
    m_clientConnected = false;
    if (m_client) {
        m_client->close();
        m_client->deleteLater();
        m_client = nullptr;
    }
    if (m_server) {
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    m_reports.clear();
}

void FileServer::onNewConnection()
{
    // The first unit stays the only one; later connections wait unserved.
    if (m_clientConnected || !m_server)
        return;
    if (m_client) {
        m_client->close();
        m_client->deleteLater();
    }
    m_client = m_server->nextPendingConnection();
    if (!m_client)
        return;
    m_reports.clear();
    connect(m_client, &QTcpSocket::readyRead, this, &FileServer::onClientReadyRead);
    connect(m_client, &QTcpSocket::disconnected, m_client, &QObject::deleteLater);
    connect(m_client, &QTcpSocket::errorOccurred, this, &FileServer::onSocketError);
    m_clientConnected = true;
    setStatus(QStringLiteral("Client is connected"));
    emit clientConnected();
}

void FileServer::downloadAndSendFile(const QString& url)
{
    if (!m_clientConnected || !m_client) {
        emit errorOccurred(QStringLiteral("Client doesn't connected"));
        return;
    }
    if (m_download) {
        // Only the latest request's image goes to the unit.
        m_download->disconnect(this);
        m_download->abort();
        m_download->deleteLater();
    }
    setStatus(QStringLiteral("Start downloading..."));
    m_download = m_network->get(QNetworkRequest(QUrl(url)));
    connect(m_download, &QNetworkReply::downloadProgress, this, &FileServer::onDownloadProgress);
    connect(m_download, &QNetworkReply::finished, this, &FileServer::onDownloadFinished);
}

void FileServer::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (bytesTotal < 1) // the web server gave no size
        return;
    const qint64 percent = bytesReceived * 100 / bytesTotal;
    setProgress(int(percent));
    setStatus(QStringLiteral("Downloading: %1% (%2/%3 bytes)")
                  .arg(percent)
                  .arg(bytesReceived)
                  .arg(bytesTotal));
}

void FileServer::onDownloadFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    if (reply == m_download)
        m_download = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        emit errorOccurred(QStringLiteral("Download error: ") + reply->errorString());
        return;
    }
    m_image = reply->readAll();
    m_imageSize = m_image.size();
    setStatus(QStringLiteral("Downloading done (%1 byte). Start to transfer...").arg(m_imageSize));
    sendImage();
}

void FileServer::sendImage()
{
    if (!m_client || m_client->state() != QAbstractSocket::ConnectedState) {
        emit errorOccurred(QStringLiteral("Client doesn't connected"));
        return;
    }
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(UpdateStreamVersion);
    out << QStringLiteral("FILE_DATA") << m_imageSize << m_image;
    if (m_client->write(message) == -1)
        emit errorOccurred(QStringLiteral("Error at sending data: ") + m_client->errorString());
}

void FileServer::onClientReadyRead()
{
    if (!m_client)
        return;
    const QList<UpdateReport> reports = m_reports.feed(m_client->readAll());
    for (const UpdateReport& report : reports)
        handle(report);
    switch (m_reports.problem()) {
    case UpdateReportReader::Problem::None:
        break;
    case UpdateReportReader::Problem::UnknownTag:
        // Reports this side does not know are of no concern to the update.
        qCWarning(lcFirmware) << "dropped from the unit:" << m_reports.problemText();
        break;
    case UpdateReportReader::Problem::Malformed:
        qCWarning(lcFirmware) << "unreadable bytes from the unit:" << m_reports.problemText();
        emit errorOccurred(QStringLiteral("Unreadable report from the unit: ") +
                           m_reports.problemText());
        break;
    }
}

void FileServer::handle(const UpdateReport& report)
{
    switch (report.kind) {
    case UpdateReport::Status:
        setStatus(report.text);
        break;
    case UpdateReport::Progress:
        setProgress(report.percent);
        break;
    case UpdateReport::Error:
        emit errorOccurred(QStringLiteral("Error at client: ") + report.text);
        setStatus(QStringLiteral("ERROR: ") + report.text);
        break;
    case UpdateReport::Completed:
        setStatus(QStringLiteral("Completed"));
        setProgress(100);
        emit fileTransferCompleted();
        break;
    }
}

void FileServer::onSocketError(QAbstractSocket::SocketError)
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        socket = m_client;
    emit errorOccurred(QStringLiteral("\u041Esocket error: ") +
                       (socket ? socket->errorString() : QString()));
}

void FileServer::setProgress(int progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    emit progressChanged(progress);
}

void FileServer::setStatus(const QString& status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged(status);
}
