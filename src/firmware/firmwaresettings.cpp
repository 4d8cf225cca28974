#include "firmwaresettings.h"

#include "link/storedsettings.h"

#include <QSettings>

QString storedFirmwareBaseUrl()
{
    const QSettings settings(StoredSettings::Organisation, StoredSettings::Application);
    return settings
        .value(StoredSettings::FirmwareBaseUrlKey, QString(StoredSettings::DefaultFirmwareBaseUrl))
        .toString();
}
