#include "bootcommand.h"

#include "boot/bootloader.h"
#include "clioutput.h"
#include "exitcode.h"

QString bootCommandHelp()
{
    return QStringLiteral(
        "Firmware over the RS-485 line of a Raspberry Pi (no unit connection):\n"
        "  boot --port DEV FILE               write the image FILE into a module through its\n"
        "                                     serial bootloader on the serial device DEV;\n"
        "                                     first every module on the bus is told to\n"
        "                                     start its bootloader. With --wait-for-device\n"
        "                                     nothing is sent to the bus and the handshake\n"
        "                                     is repeated until a module is plugged in.");
}

int runBootCommand(const QStringList& arguments, const QHash<QString, QString>& options)
{
    for (const QString& name : options.keys()) {
        if (name != QLatin1String("port") && name != QLatin1String("wait-for-device"))
            return usageError(QStringLiteral("--%1 does not apply to boot").arg(name));
    }
    if (!options.contains(QStringLiteral("port")))
        return usageError(QStringLiteral("boot needs --port DEV, the serial device"));
    if (arguments.size() != 2)
        return usageError(QStringLiteral("boot takes one firmware file"));

    Bootloader loader;
    loader.setPortName(options.value(QStringLiteral("port")));
    loader.setWaitForDevice(options.contains(QStringLiteral("wait-for-device")));

    bool failed = false;
    int shownPercent = -1;
    QObject::connect(&loader, &Bootloader::infoLoader,
                     [](const QString& text) { cliOut() << text << Qt::endl; });
    // The last block counts whole, so the bootloader may report more than 100.
    QObject::connect(&loader, &Bootloader::loaderProgressChanged, [&](int percent) {
        percent = qBound(0, percent, 100);
        if (percent != shownPercent)
            cliOut() << "progress " << percent << "%" << Qt::endl;
        shownPercent = percent;
    });
    // Empty texts only set the next error apart.
    QObject::connect(&loader, &Bootloader::errorLoader, [&](const QString& text) {
        failed = true;
        if (!text.isEmpty())
            printError(text);
    });
    // A restart begins the erase and programming again: only what follows it decides.
    QObject::connect(&loader, &Bootloader::restart, [&] { failed = false; });
    loader.load(arguments.at(1));
    return failed ? Exit::Failure : Exit::Success;
}
