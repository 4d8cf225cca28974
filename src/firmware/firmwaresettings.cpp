#include "firmwaresettings.h"

#include <QSettings>

QString storedFirmwareBaseUrl()
{
    const QSettings settings(QStringLiteral("Norvane"), QStringLiteral("cu-tavik"));
    return settings
        .value(QStringLiteral("FirmwareBaseUrl"),
               QStringLiteral("https://firmware.norvane.com/vx9Rack/Bin/Firmware/"))
        .toString();
}
