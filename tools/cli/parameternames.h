#pragma once
// The module parameters `set` may write: the names the engine's single parameter write
// accepts, what value each takes and which module types have it.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct ParameterName
{
    QString name;
    bool isSwitch;    // 0/1 rather than a number
    QString unit;     // SI unit of a number, for messages and the help
    QList<int> types; // DataProviderList::DeviceType codes of the modules that have it
};

// The range a module's parameter panel allows for a number, in SI units.
struct ParameterRange
{
    double min;
    double max;

    // With a hair of slack for the panel's display scaling.
    bool contains(double value) const;
    QString text() const; // "MIN to MAX"
};

const QList<ParameterName>& parameterNames();
const ParameterName* findParameterName(const QString& name);
QString typeName(int deviceType);
// The panel's range of a number parameter of a module type; none when the panel has no such
// number field.
std::optional<ParameterRange> panelRange(int deviceType, const QString& name);
