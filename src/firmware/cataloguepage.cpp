#include "cataloguepage.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrl>

QString normalizedCatalogueBaseUrl(const QString& baseUrl)
{
    QString url = QUrl(baseUrl).toString();
    if (!url.endsWith(u'/'))
        url += u'/';
    return url;
}

QStringList catalogueDirectoryLinks(const QString& pageUrl, const QString& body,
                                    const QString& baseUrl)
{
    static const QRegularExpression link(QStringLiteral(R"(<a\s+href="([^"]+/))"));
    QStringList addresses;
    for (const QRegularExpressionMatch& match : link.globalMatch(body)) {
        const QString href = match.captured(1);
        if (href == u"../" || href.startsWith(u'?') || href.startsWith(u'/'))
            continue;
        const QString joined =
            pageUrl + (pageUrl.endsWith(u'/') ? QString() : QStringLiteral("/")) + href;
        // A listing that links "./", "x/../x/" or the like would otherwise lead the walk
        // round the same directories for ever, or out of the catalogue.
        const QString address = QUrl(joined).adjusted(QUrl::NormalizePathSegments).toString();
        if (address.startsWith(baseUrl) && address.size() > baseUrl.size())
            addresses << address;
    }
    return addresses;
}

QStringList catalogueImageEntries(const QString& pageUrl, const QString& body,
                                  const QString& baseUrl)
{
    // The names are found from each "_code.bin" backwards rather than with a pattern, so
    // that a page of endless capitals costs one pass, not one pass per letter.
    static const QString suffix = QStringLiteral("_code.bin");
    const auto isNameChar = [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    };
    QStringList entries;
    QSet<QString> known;
    for (qsizetype at = body.indexOf(suffix); at >= 0; at = body.indexOf(suffix, at + 1)) {
        qsizetype start = at;
        while (start > 0 && at - start <= MaxImageNameLength && isNameChar(body.at(start - 1)))
            --start;
        const qsizetype length = at - start;
        if (length == 0 || length > MaxImageNameLength)
            continue;
        QString entry = pageUrl + body.mid(start, length);
        if (!baseUrl.isEmpty())
            entry.remove(baseUrl);
        if (!known.contains(entry)) {
            known.insert(entry);
            entries << entry;
        }
    }
    return entries;
}

std::optional<CatalogueImage> parseCatalogueEntry(const QString& entry)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"((\d+\.\d+\.\d+[a-z]*)\/([A-Z0-9]+)M([a-zA-Z0-9]+)V([a-zA-Z0-9]+))"));
    const QRegularExpressionMatch match = pattern.match(entry);
    if (!match.hasMatch())
        return std::nullopt;
    return CatalogueImage{match.captured(1), match.captured(2), match.captured(3),
                          match.captured(4)};
}

QString catalogueImageUrl(const QString& baseUrl, const CatalogueImage& image)
{
    return baseUrl + image.version + u'/' + image.family + u'M' + image.modification + u'V' +
           image.revision + QStringLiteral("_code.bin");
}
