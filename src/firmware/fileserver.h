#pragma once
// The TCP server a unit fetches a firmware image from: the unit connects as the one
// client, the image is downloaded from the firmware web server and pushed to it as one
// "FILE_DATA" message, and the unit's reports come back as status, progress and errors.
#include "updatereportreader.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpServer;
class QTcpSocket;

class FileServer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
public:
    explicit FileServer(QObject* parent = nullptr);

    int progress() const { return m_progress; }
    QString status() const { return m_status; }

    Q_INVOKABLE void startServer(quint16 port);
    Q_INVOKABLE void stopServer();
    Q_INVOKABLE void downloadAndSendFile(const QString& url);

signals:
    void progressChanged(int progress);
    void statusChanged(const QString& status);
    void fileTransferCompleted();
    void errorOccurred(const QString& error);
    void clientConnected();

public slots:
    void onNewConnection();
    void onClientReadyRead();
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onDownloadFinished();
    void onSocketError(QAbstractSocket::SocketError error);

private:
    void setProgress(int progress);
    void setStatus(const QString& status);
    void sendImage();
    void handle(const UpdateReport& report);

    QTcpServer* m_server = nullptr;
    // Forgotten by itself when the socket is deleted after the unit disconnects.
    QPointer<QTcpSocket> m_client;
    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_download;
    int m_progress = 0;
    QString m_status;
    qint64 m_imageSize = 0;
    QByteArray m_image;
    bool m_clientConnected = false;
    UpdateReportReader m_reports;
};
