#include "presetfile.h"

#include "models/dataproviderlist.h"
#include "parameterlimits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

const QStringList RestoredKeys = {QStringLiteral("current"), QStringLiteral("cmp_ref_level")};

} // namespace

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
        PresetChannel preset;
        preset.address = channel.value(QLatin1String("address")).toInt(0);
        for (const QString& key : RestoredKeys) {
            // A missing value sets 0; one that is there must be a number the engine writes.
            const QVariant setting =
                channel.contains(key) ? channel.value(key).toVariant() : QVariant(0.0);
            const QString problem = ParameterLimits::problem(key, setting);
            if (problem.isEmpty())
                preset.writes.append({key, setting.toDouble()});
            else
                content.refusals.append(QStringLiteral("Preset for unit %1: %2; not restored")
                                            .arg(preset.address)
                                            .arg(problem));
        }
        content.channels.append(preset);
    }
    return content;
}
