#include "simcatalogueserver.h"

#include "core/simlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLocale>
#include <QMetaEnum>
#include <QTcpServer>
#include <QUrl>

using Status = QHttpServerResponder::StatusCode;

namespace {

void respond(QHttpServerResponder& responder, Status status)
{
    const QByteArray text = QByteArray::number(int(status)) + ' ' +
                            QMetaEnum::fromType<Status>().valueToKey(int(status)) + '\n';
    responder.write(text, QByteArrayLiteral("text/plain"), status);
}

} // namespace

SimCatalogueServer::SimCatalogueServer(const QString& rootDirectory, QObject* parent)
    : QAbstractHttpServer(parent), m_rootDirectory(rootDirectory)
{
}

bool SimCatalogueServer::start(const QHostAddress& address, quint16 port, QString* error)
{
    const QFileInfo root(m_rootDirectory);
    if (!root.isDir()) {
        *error = QStringLiteral("%1: not a directory").arg(m_rootDirectory);
        return false;
    }
    m_root = root.canonicalFilePath();
    m_server = new QTcpServer(this);
    if (!m_server->listen(address, port)) {
        *error = QStringLiteral("cannot serve the firmware catalogue on %1 port %2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    bind(m_server);
    qCInfo(lcSim) << "firmware catalogue" << m_root << "at" << rootUrl();
    return true;
}

quint16 SimCatalogueServer::serverPort() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString SimCatalogueServer::rootUrl() const
{
    if (!m_server)
        return QString();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_server->serverAddress().toString());
    url.setPort(m_server->serverPort());
    url.setPath(QStringLiteral("/"));
    return url.toString();
}

bool SimCatalogueServer::insideRoot(const QString& canonicalPath) const
{
    return canonicalPath == m_root || canonicalPath.startsWith(m_root + u'/');
}

bool SimCatalogueServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    if (request.method() != QHttpServerRequest::Method::Get) {
        respond(responder, Status::MethodNotAllowed);
        return true;
    }
    const QString path = request.url().path(QUrl::FullyDecoded);
    const QStringList segments = path.split(u'/');
    if (!path.startsWith(u'/') || path.contains(QChar(0)) || segments.contains(u"..") ||
        segments.contains(u".")) {
        qCInfo(lcSim) << "catalogue: refused" << path;
        respond(responder, Status::Forbidden);
        return true;
    }
    const QFileInfo target(m_root + path);
    if (!target.exists()) {
        respond(responder, Status::NotFound);
        return true;
    }
    if (!insideRoot(target.canonicalFilePath())) {
        qCInfo(lcSim) << "catalogue: refused" << path << "(leads out of the catalogue)";
        respond(responder, Status::Forbidden);
        return true;
    }
    if (target.isDir()) {
        if (!path.endsWith(u'/')) {
            // As web servers do: the listing's relative links need the "/".
            const QByteArray location = QUrl(path + u'/').toEncoded(QUrl::FullyEncoded);
            responder.write(QByteArray(), {{"Location", location}}, Status::MovedPermanently);
            return true;
        }
        responder.write(listing(path, target.filePath()), QByteArrayLiteral("text/html"));
        return true;
    }
    QFile file(target.filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        respond(responder, Status::Forbidden);
        return true;
    }
    responder.write(file.readAll(), QByteArrayLiteral("application/octet-stream"));
    return true;
}

void SimCatalogueServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    respond(responder, Status::NotFound);
}

QByteArray SimCatalogueServer::listing(const QString& urlPath, const QString& directory) const
{
    // Laid out as nginx's autoindex: parent link, then directories, then files, by name.
    const QString title = QStringLiteral("Index of ") + urlPath.toHtmlEscaped();
    QString html = QStringLiteral("<html>\r\n<head><title>%1</title></head>\r\n<body>\r\n"
                                  "<h1>%1</h1><hr><pre>")
                       .arg(title);
    if (urlPath != u"/")
        html += QStringLiteral("<a href=\"../\">../</a>\r\n");
    const QFileInfoList entries = QDir(directory).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot, QDir::DirsFirst | QDir::Name);
    const QLocale c = QLocale::c();
    for (const QFileInfo& entry : entries) {
        if (!insideRoot(entry.canonicalFilePath()))
            continue; // a symlink out of the catalogue, or a dangling one
        const QString name = entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString());
        const QString href = QString::fromLatin1(QUrl::toPercentEncoding(name, "/"));
        const QString time =
            c.toString(entry.lastModified().toUTC(), QStringLiteral("dd-MMM-yyyy HH:mm"));
        const QString size = entry.isDir() ? QStringLiteral("-") : QString::number(entry.size());
        html += QStringLiteral("<a href=\"%1\">%2</a>%3%4 %5\r\n")
                    .arg(href, name.toHtmlEscaped(), QString(qMax(1, 51 - int(name.size())), u' '),
                         time, size.rightJustified(19));
    }
    html += QStringLiteral("</pre><hr></body>\r\n</html>\r\n");
    return html.toUtf8();
}
