#pragma once
// The module parameters `set` may write: the names the engine's single parameter write
// accepts, what value each takes and which module types have it.
#include <QList>
#include <QString>
#include <QStringList>

struct ParameterName
{
    QString name;
    bool isSwitch;    // 0/1 rather than a number
    QString unit;     // SI unit of a number, for messages and the help
    QList<int> types; // DataProviderList::DeviceType codes of the modules that have it
};

const QList<ParameterName>& parameterNames();
const ParameterName* findParameterName(const QString& name);
QString typeName(int deviceType);
