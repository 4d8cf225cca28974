#pragma once
// The firmware catalogue: walks the firmware web server's directory listings below baseUrl,
// collects every image found, and offers the modifications, hardware revisions and
// versions of one module family for the update dialog (context property "fileHandler").
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;

class FileMapHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList versions READ versions NOTIFY versionsChanged)
    Q_PROPERTY(QStringList modifications READ modifications NOTIFY modificationsChanged)
    Q_PROPERTY(QStringList revisions READ revisions NOTIFY revisionsChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString baseUrl READ baseUrl CONSTANT)
public:
    // The catalogue at the address stored in the application's settings.
    explicit FileMapHandler(QObject* parent = nullptr);
    explicit FileMapHandler(const QString& baseUrl, QObject* parent = nullptr);

    QStringList versions() const { return m_versions; }
    QStringList modifications() const { return m_modifications; }
    QStringList revisions() const { return m_revisions; }
    bool loading() const { return m_loading; }
    QString baseUrl() const { return m_baseUrl; }
    // Every image of the last walk, as "version/FAMILYMmodVrev", in order of discovery.
    QStringList images() const { return m_images; }

    // A page that stalls this long, or grows beyond maxPageBytes, is an error of that page.
    void setTransferTimeoutMs(int ms) { m_transferTimeoutMs = ms; }
    void setMaxPageBytes(qint64 bytes) { m_maxPageBytes = bytes; }

    Q_INVOKABLE void loadFileMap();
    Q_INVOKABLE void updateFilters(const QString& type, const QString& modification = QString(),
                                   const QString& hardwareVersion = QString());
    Q_INVOKABLE void cancelLoading();

signals:
    void versionsChanged();
    void modificationsChanged();
    void revisionsChanged();
    void loadingChanged();
    void progressChanged();
    void errorOccurred(QString errorMessage);
    void loadingFinished();

public slots:
    void onReplyFinished(QNetworkReply* reply);

private:
    void fetchNextPage();
    void setLoading(bool loading);

    QNetworkAccessManager* m_manager;
    const QString m_baseUrl;
    QStringList m_pending;
    QSet<QString> m_seen;
    QStringList m_images;
    QSet<QString> m_knownImages;
    QStringList m_modifications;
    QStringList m_revisions;
    QStringList m_versions;
    bool m_loading = false;
    bool m_cancelled = false;
    // The one request of the running walk; replies of cancelled or replaced walks are not
    // it and are dropped.
    QPointer<QNetworkReply> m_request;
    int m_transferTimeoutMs = 30000;
    qint64 m_maxPageBytes = 4 * 1024 * 1024;
};
