#include "filemaphandler.h"

#include "cataloguepage.h"
#include "firmwarelog.h"
#include "firmwaresettings.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <algorithm>

namespace {

const char* const TooLargeProperty = "tavikPageTooLarge";

QStringList sorted(const QSet<QString>& set)
{
    QStringList list(set.cbegin(), set.cend());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

FileMapHandler::FileMapHandler(QObject* parent) : FileMapHandler(storedFirmwareBaseUrl(), parent) {}

FileMapHandler::FileMapHandler(const QString& baseUrl, QObject* parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)),
      m_baseUrl(normalizedCatalogueBaseUrl(baseUrl))
{
    m_manager->setProxy(QNetworkProxy::NoProxy);
    connect(m_manager, &QNetworkAccessManager::finished, this, &FileMapHandler::onReplyFinished);
}

void FileMapHandler::loadFileMap()
{
    if (m_loading) {
        m_cancelled = true;
        setLoading(false);
    }
    m_pending.clear();
    m_seen.clear();
    m_images.clear();
    m_knownImages.clear();
    m_request = nullptr;
    m_cancelled = false;
    setLoading(true);
    m_pending << m_baseUrl;
    m_seen.insert(m_baseUrl);
    fetchNextPage();
}

void FileMapHandler::cancelLoading()
{
    m_cancelled = true;
    m_request = nullptr;
    setLoading(false);
}

void FileMapHandler::fetchNextPage()
{
    if (m_cancelled || m_pending.isEmpty()) {
        setLoading(false);
        qCDebug(lcFirmware) << "catalogue walk done," << m_images.size() << "images";
        emit loadingFinished();
        return;
    }
    QNetworkRequest request(QUrl(m_pending.takeFirst()));
    request.setRawHeader("Cache-Control", "no-cache");
    request.setTransferTimeout(m_transferTimeoutMs);
    QNetworkReply* reply = m_manager->get(request);
    m_request = reply;
    const qint64 limit = m_maxPageBytes;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, limit](qint64 received) {
        if (received > limit && !reply->property(TooLargeProperty).toBool()) {
            reply->setProperty(TooLargeProperty, true);
            reply->abort();
        }
    });
}

void FileMapHandler::onReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (m_cancelled || reply != m_request) {
        qCDebug(lcFirmware) << "dropped reply of a finished walk:" << reply->url();
        return;
    }
    m_request = nullptr;
    const QString page = reply->url().toString();
    if (reply->property(TooLargeProperty).toBool()) {
        emit errorOccurred(
            QStringLiteral("Error loading %1: %2")
                .arg(page, QStringLiteral("page larger than %1 bytes").arg(m_maxPageBytes)));
    } else if (reply->error() == QNetworkReply::NoError) {
        const QString body = QString::fromUtf8(reply->readAll());
        for (const QString& address : catalogueDirectoryLinks(page, body, m_baseUrl)) {
            if (!m_seen.contains(address)) {
                m_seen.insert(address);
                m_pending << address;
            }
        }
        for (const QString& entry : catalogueImageEntries(page, body, m_baseUrl)) {
            if (!m_knownImages.contains(entry)) {
                m_knownImages.insert(entry);
                m_images << entry;
            }
        }
    } else if (reply->error() == QNetworkReply::ContentNotFoundError) {
        qCDebug(lcFirmware) << "no such page:" << page;
    } else {
        emit errorOccurred(QStringLiteral("Error loading %1: %2").arg(page, reply->errorString()));
    }
    fetchNextPage();
}

void FileMapHandler::updateFilters(const QString& type, const QString& modification,
                                   const QString& hardwareVersion)
{
    QSet<QString> modifications;
    QSet<QString> revisions;
    QSet<QString> versions;
    for (const QString& entry : std::as_const(m_images)) {
        const std::optional<CatalogueImage> image = parseCatalogueEntry(entry);
        if (!image || type.isEmpty() || image->family != type)
            continue;
        modifications.insert(image->modification);
        if (modification.isEmpty() || image->modification != modification)
            continue;
        revisions.insert(image->revision);
        if (!hardwareVersion.isEmpty() && image->revision == hardwareVersion)
            versions.insert(image->version);
    }
    // All three are announced on every call: the dialog re-selects its entries on them.
    m_modifications = sorted(modifications);
    emit modificationsChanged();
    m_revisions = sorted(revisions);
    emit revisionsChanged();
    m_versions = sorted(versions);
    emit versionsChanged();
}

void FileMapHandler::setLoading(bool loading)
{
    if (m_loading == loading)
        return;
    m_loading = loading;
    emit loadingChanged();
}
