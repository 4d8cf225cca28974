#pragma once
// The single parameter writes the engine lets through to a module: their names, and the
// values each may carry. A number outside its range, or anything that is no number, never
// reaches a DAC: parameter writes, restored presets and sweeps all ask here first.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace ParameterLimits {

// Allowed values of a number parameter, in the engine's base units.
struct Range
{
    double min;
    double max;
    QString unit;
};

// The names a single parameter write may carry; anything else is dropped.
const QStringList& names();
bool isSwitch(const QString& name);
// The range of a number parameter; none for switches and unknown names.
std::optional<Range> range(const QString& name);

// Empty when value may be written as name; otherwise why not, naming the parameter, e.g.
// "current 1 A is outside -0.001 to 0.001 A". Numbers must be numbers (no texts, no
// booleans) and finite; switches take a boolean or the number 0 or 1.
QString problem(const QString& name, const QVariant& value);

} // namespace ParameterLimits
