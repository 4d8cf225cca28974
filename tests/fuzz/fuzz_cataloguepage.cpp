// Fuzzes the reader of the firmware web server's directory listings with arbitrary pages.
// Whatever a page holds, the reader must not crash or take long, must queue only
// directories below the catalogue's root, and must name each image once, with a name of
// capitals and digits; the parts of every entry it can split must join back into it.
//
// Input layout: byte 0 picks the page: even, the catalogue's root; odd, a version
// directory below it. The rest is the page's body (UTF-8, invalid sequences replaced).
#include "firmware/cataloguepage.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool isImageName(const QString& name)
{
    if (name.isEmpty() || name.size() > MaxImageNameLength)
        return false;
    for (const QChar c : name) {
        if (!((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const QString base = QStringLiteral("https://firmware.example/vx9Rack/Bin/Firmware/");
    const QString page = (data[0] & 1) ? base + QStringLiteral("1.2.3/") : base;
    const QString body =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    for (const QString& address : catalogueDirectoryLinks(page, body, base))
        check(address.startsWith(base) && address.size() > base.size());

    const QStringList entries = catalogueImageEntries(page, body, base);
    const QString prefix = page.mid(base.size());
    QSet<QString> seen;
    for (const QString& entry : entries) {
        check(!seen.contains(entry));
        seen.insert(entry);
        check(entry.startsWith(prefix) && isImageName(entry.mid(prefix.size())));
        if (const std::optional<CatalogueImage> image = parseCatalogueEntry(entry)) {
            const QString url = catalogueImageUrl(base, *image);
            check(url.startsWith(base) && url.endsWith(QStringLiteral("_code.bin")));
            check(
                url.contains(image->family + u'M' + image->modification + u'V' + image->revision));
        }
    }
    return 0;
}
