// Fuzzes the reader of the firmware web server's listings: the root (byte 0 even) or a version
// directory, the rest as its body. It may queue only directories below the root, must name
// each image once, in capitals and digits, and entries it splits must join back whole.
#include "firmware/cataloguepage.h"
#include "fuzzcheck.h"
#include <QRegularExpression>
#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const QString base = QStringLiteral("https://firmware.example/vx9Rack/Bin/Firmware/");
    static const QRegularExpression imageName(QRegularExpression::anchoredPattern(
        QStringLiteral("[A-Z0-9]{1,%1}").arg(MaxImageNameLength)));
    const QString page = (data[0] & 1) ? base + QStringLiteral("1.2.3/") : base;
    const QString body = QString::fromUtf8(fuzzBytes(data, size, 1));
    for (const QString& address : catalogueDirectoryLinks(page, body, base))
        check(address.startsWith(base) && address.size() > base.size());
    const QString prefix = page.mid(base.size());
    QSet<QString> seen;
    for (const QString& entry : catalogueImageEntries(page, body, base)) {
        check(!seen.contains(entry));
        seen.insert(entry);
        check(entry.startsWith(prefix) && imageName.match(entry.mid(prefix.size())).hasMatch());
        if (const std::optional<CatalogueImage> image = parseCatalogueEntry(entry)) {
            const QString url = catalogueImageUrl(base, *image);
            check(url.startsWith(base) && url.endsWith(QStringLiteral("_code.bin")));
            check(
                url.contains(image->family + u'M' + image->modification + u'V' + image->revision));
        }
    }
    return 0;
}
