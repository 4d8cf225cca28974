#include "presetfile.h"

#include "models/dataproviderlist.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

PresetFileContent readPresetFile(const QByteArray& bytes)
{
    PresetFileContent content;
    // A file that does not parse reads as an empty object, and so as one without "data".
    const QJsonObject document = QJsonDocument::fromJson(bytes).object();
    if (!document.contains(QLatin1String("data"))) {
        content.error = QStringLiteral("Wrong data. Missed \"data\" member.");
        return content;
    }
    const QJsonArray channels = document.value(QLatin1String("data")).toArray();
    for (const QJsonValue& value : channels) {
        if (!value.isObject())
            continue;
        const QJsonObject channel = value.toObject();
        const int type = channel.value(QLatin1String("type")).toInt(-1);
        if (type != DataProviderList::DeviceTypeSspdM0 &&
            type != DataProviderList::DeviceTypeSspdM1)
            continue;
        content.channels.append(PresetChannel{
            channel.value(QLatin1String("address")).toInt(0),
            channel.value(QLatin1String("current")).toDouble(0),
            channel.value(QLatin1String("cmp_ref_level")).toDouble(0),
        });
    }
    return content;
}
