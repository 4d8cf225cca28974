#include "firmwarelistcommand.h"

#include "clioutput.h"
#include "exitcode.h"
#include "firmware/filemaphandler.h"

#include <QEventLoop>
#include <QUrl>
#include <memory>

bool isFirmwareWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

namespace {

void printList(const char* name, const QStringList& values)
{
    cliOut() << name << (values.isEmpty() ? QString() : u' ' + values.join(u' ')) << '\n';
}

} // namespace

QString firmwareCommandsHelp()
{
    return QStringLiteral(
        "Firmware catalogue (no unit needed):\n"
        "  firmware list [--family F [--modification M [--hardware H]]] [--base-url URL]\n"
        "                                     walk the firmware web server's listings;\n"
        "                                     one line \"image VERSION/NAME URL\" per image,\n"
        "                                     then the family's \"modifications\", the\n"
        "                                     modification's \"revisions\" and the revision's\n"
        "                                     \"versions\" (F is VX9SD or VX9TD); the default\n"
        "                                     URL is the application's stored one");
}

int runFirmwareList(const QStringList& arguments, const QHash<QString, QString>& options)
{
    if (!arguments.isEmpty())
        return usageError(
            QStringLiteral("firmware list takes no arguments: %1").arg(arguments.join(u' ')));
    const QStringList known = {"family", "modification", "hardware", "base-url"};
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (!known.contains(it.key()))
            return usageError(QStringLiteral("--%1 does not apply to firmware list").arg(it.key()));
    }
    const QString family = options.value(QStringLiteral("family"));
    const QString modification = options.value(QStringLiteral("modification"));
    const QString hardware = options.value(QStringLiteral("hardware"));
    if (!modification.isEmpty() && family.isEmpty())
        return usageError(QStringLiteral("--modification needs --family"));
    if (!hardware.isEmpty() && modification.isEmpty())
        return usageError(QStringLiteral("--hardware needs --modification"));

    std::unique_ptr<FileMapHandler> catalogue;
    if (options.contains(QStringLiteral("base-url"))) {
        const QString baseUrl = options.value(QStringLiteral("base-url"));
        if (!isFirmwareWebAddress(baseUrl))
            return usageError(
                QStringLiteral("--base-url must be an http or https address: %1").arg(baseUrl));
        catalogue = std::make_unique<FileMapHandler>(baseUrl);
    } else {
        catalogue = std::make_unique<FileMapHandler>();
    }

    bool failed = false;
    QEventLoop loop;
    QObject::connect(catalogue.get(), &FileMapHandler::errorOccurred, &loop,
                     [&failed](const QString& message) {
                         printError(message);
                         failed = true;
                     });
    QObject::connect(catalogue.get(), &FileMapHandler::loadingFinished, &loop, &QEventLoop::quit);
    catalogue->loadFileMap();
    loop.exec();

    const QStringList images = catalogue->images();
    for (const QString& image : images)
        cliOut() << "image " << image << ' ' << catalogue->baseUrl() << image << "_code.bin\n";
    if (images.isEmpty() && !failed)
        printError(QStringLiteral("no firmware images at %1").arg(catalogue->baseUrl()));
    if (!family.isEmpty()) {
        catalogue->updateFilters(family, modification, hardware);
        printList("modifications", catalogue->modifications());
        if (!modification.isEmpty())
            printList("revisions", catalogue->revisions());
        if (!hardware.isEmpty())
            printList("versions", catalogue->versions());
    }
    cliOut() << Qt::flush;
    return failed ? Exit::Failure : Exit::Success;
}
