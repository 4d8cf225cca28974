#pragma once
// Reading the firmware web server's directory listings: the subdirectories a page links to,
// the firmware images it names, and the parts of an image entry. Pure functions on text,
// so that they can be fed any page a server might send.
#include <QString>
#include <QStringList>
#include <optional>

// One image of the catalogue: version directory and file name parts, as in
// "1.2.3/VX9SDM0V1" (family VX9SD, modification 0, revision 1).
struct CatalogueImage
{
    QString version;
    QString family;
    QString modification;
    QString revision;
};

// baseUrl in the form pages are compared against: parsed and printed back as a URL, with a
// trailing "/" so that relative names and image addresses join it.
QString normalizedCatalogueBaseUrl(const QString& baseUrl);

// Addresses of the directories page (at pageUrl) links to: relative links ending in "/",
// without the parent, sort links and absolute links, "." and ".." resolved, and only those
// below baseUrl. In order of the page, duplicates kept (the caller knows what it has seen).
QStringList catalogueDirectoryLinks(const QString& pageUrl, const QString& body,
                                    const QString& baseUrl);

// Longest file name, without "_code.bin", still taken for an image: real ones are a dozen
// characters; longer runs are not images and would only cost time further on.
constexpr qsizetype MaxImageNameLength = 64;

// The images page names, as the page's address relative to baseUrl plus the file name
// without "_code.bin"; in order of the page, each once.
QStringList catalogueImageEntries(const QString& pageUrl, const QString& body,
                                  const QString& baseUrl);

// The parts of an image entry, or nothing when it does not name a versioned image.
std::optional<CatalogueImage> parseCatalogueEntry(const QString& entry);

// Download address of an image: baseUrl + version + "/" + family + "M" + modification +
// "V" + revision + "_code.bin".
QString catalogueImageUrl(const QString& baseUrl, const CatalogueImage& image);
