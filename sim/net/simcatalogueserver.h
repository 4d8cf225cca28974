#pragma once
// A stand-in for the maker's firmware web server: serves a directory tree over HTTP as the
// directory listings common web servers produce (links "name/" and "file") and the files
// themselves. Nothing outside the tree is served, neither through ".." nor symlinks.
#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QString>

class QTcpServer;

class SimCatalogueServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    explicit SimCatalogueServer(const QString& rootDirectory, QObject* parent = nullptr);

    // Listens on address at port (0: any free one); false with *error when the directory
    // does not exist or the port cannot be had.
    bool start(const QHostAddress& address, quint16 port, QString* error);
    quint16 serverPort() const;
    // http://address:port/ once started.
    QString rootUrl() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    QByteArray listing(const QString& urlPath, const QString& directory) const;
    bool insideRoot(const QString& canonicalPath) const;

    QString m_root; // canonical, once started
    QString m_rootDirectory;
    QTcpServer* m_server = nullptr;
};
