#include "siminventory.h"

#include "simmodule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A module sends its texts in 24-byte fields; the list shows what the module would answer.
QString fieldText(const QString& text)
{
    return QString::fromUtf8(text.toUtf8().left(24));
}

} // namespace

QByteArray SimInventory::json(const QList<SimModule*>& modules, const QString& softwareVersion)
{
    QJsonArray info;
    for (const SimModule* module : modules) {
        const SimModule::Identity& id = module->identity();
        info.append(QJsonObject{
            {QStringLiteral("address"), int(module->address())},
            {QStringLiteral("type"), fieldText(id.type)},
            {QStringLiteral("Description"), fieldText(id.description)},
            {QStringLiteral("Firmware"), fieldText(id.firmware)},
            {QStringLiteral("Hardware"), fieldText(id.hardware)},
            {QStringLiteral("Modification"), fieldText(id.modification)},
            {QStringLiteral("UDID"), id.udid.toString()},
        });
    }
    const QJsonObject list{
        {QStringLiteral("count"), int(info.size())},
        {QStringLiteral("info"), info},
        {QStringLiteral("software_version"), softwareVersion},
    };
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

QByteArray SimInventory::legacy(const QList<SimModule*>& modules)
{
    QByteArrayList lines;
    int index = 0;
    for (const SimModule* module : modules) {
        // A colon inside the type would split the line wrongly; the unit never sends one.
        QByteArray type = fieldText(module->identity().type).toLatin1();
        type.replace(':', '_');
        lines << "module=" + QByteArray::number(index++) +
                     ":addr=" + QByteArray::number(module->address()) + ":type=" + type;
    }
    return lines.join("<br>");
}
