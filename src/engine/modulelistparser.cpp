#include "modulelistparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

// The text after the first "=" of a legacy field; null when the field has none.
QString valueOf(const QString& field)
{
    const qsizetype equals = field.indexOf(u'=');
    return equals < 0 ? QString() : field.mid(equals + 1);
}

} // namespace

QJsonObject moduleListObject(const QString& answer)
{
    return QJsonDocument::fromJson(answer.toLocal8Bit()).object();
}

QList<ModuleListEntry> jsonModuleEntries(const QJsonObject& list)
{
    const int count = list.value(QLatin1String("count")).toInt(-1);
    const QJsonArray info = list.value(QLatin1String("info")).toArray();
    QList<ModuleListEntry> entries;
    // "count" may promise more entries than the array holds.
    for (qsizetype i = 0; i < count && i < info.size(); ++i) {
        const QJsonValue value = info.at(i);
        if (!value.isObject())
            continue;
        const QJsonObject entry = value.toObject();
        entries.append(ModuleListEntry{
            quint8(entry.value(QLatin1String("address")).toInt(-1) & 0xFF),
            entry.value(QLatin1String("type")).toString(),
        });
    }
    return entries;
}

QList<ModuleListEntry> legacyModuleEntries(const QString& answer)
{
    QList<ModuleListEntry> entries;
    const QStringList lines = answer.split(QStringLiteral("<br>"));
    for (const QString& line : lines) {
        const QStringList fields = line.split(u':');
        if (fields.size() != 3)
            continue;
        const QString addressText = valueOf(fields.at(1));
        const QString typeText = valueOf(fields.at(2));
        if (addressText.isNull() || typeText.isNull())
            continue;
        entries.append(ModuleListEntry{quint8(addressText.toInt() & 0xFF), typeText.trimmed()});
    }
    return entries;
}
