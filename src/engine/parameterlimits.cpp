#include "parameterlimits.h"

#include "drivers/numbertype.h"

#include <QList>
#include <QtGlobal>
#include <cmath>

namespace ParameterLimits {

namespace {

// Relative; well above a float's rounding, far below any step a user would make.
constexpr double FloatSlack = 1e-6;

struct Rule
{
    QString name;
    // No range: a switch.
    std::optional<Range> range;
};

// The widest values the application's own panels offer for each setting (a sweep may take
// the bias to ±1 mA and the trigger to ±3 V; the channel panel stays within these), so
// nothing the screen can make is refused, and nothing beyond it is sent.
const QList<Rule>& rules()
{
    static const QList<Rule> table = {
        {"current", Range{-1e-3, 1e-3, "A"}},
        {"time_const", Range{0.01, 100.0, "s"}},
        {"cmp_ref_level", Range{-3.0, 3.0, "V"}},
        {"status_shorted", {}},
        {"operate", {}},
        {"temperature_sensor_current", Range{0.0, 25e-6, "A"}},
        {"status_amplifier_on", {}},
        {"status_comparator_on", {}},
        {"status_counter_on", {}},
        {"status_rfkey_to_cmp", {}},
        {"status_hfmode_on", {}},
        {"status_autoreset_on", {}},
        {"auto_reset_threshold", Range{0.0, 1.0, "V"}},
        {"auto_reset_time_out", Range{0.01, 1.0, "s"}},
    };
    return table;
}

const Rule* ruleOf(const QString& name)
{
    for (const Rule& rule : rules()) {
        if (rule.name == name)
            return &rule;
    }
    return nullptr;
}

// Numbers as numbers: a text or a boolean that happens to convert is no setting.
bool isNumber(const QVariant& value)
{
    return cuIsNumberType(value.typeId());
}

QString shown(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QStringLiteral("null");
    if (value.typeId() == QMetaType::QString)
        return QStringLiteral("\"%1\"").arg(value.toString());
    if (value.typeId() == QMetaType::QVariantList)
        return QStringLiteral("[...]");
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantHash)
        return QStringLiteral("{...}");
    return value.toString();
}

} // namespace

const QStringList& names()
{
    static const QStringList list = [] {
        QStringList n;
        for (const Rule& rule : rules())
            n << rule.name;
        return n;
    }();
    return list;
}

bool isSwitch(const QString& name)
{
    const Rule* rule = ruleOf(name);
    return rule && !rule->range;
}

std::optional<Range> range(const QString& name)
{
    const Rule* rule = ruleOf(name);
    return rule ? rule->range : std::nullopt;
}

QString problem(const QString& name, const QVariant& value)
{
    const Rule* rule = ruleOf(name);
    if (!rule)
        return QStringLiteral("%1 is no parameter that can be set").arg(name);
    if (!rule->range) {
        if (value.typeId() == QMetaType::Bool)
            return {};
        if (isNumber(value) && (value.toDouble() == 0.0 || value.toDouble() == 1.0))
            return {};
        return QStringLiteral("%1 %2 is neither on nor off").arg(name, shown(value));
    }
    const Range& r = *rule->range;
    if (!isNumber(value) || !std::isfinite(value.toDouble()))
        return QStringLiteral("%1 %2 is not a number").arg(name, shown(value));
    const double number = value.toDouble();
    // Values read back from a module are floats: its own limit may come back a hair above.
    const double slack = FloatSlack * qMax(std::abs(r.min), std::abs(r.max));
    if (number < r.min - slack || number > r.max + slack)
        return QStringLiteral("%1 %2 %3 is outside %4 to %5 %3")
            .arg(name)
            .arg(number)
            .arg(r.unit)
            .arg(r.min)
            .arg(r.max);
    return {};
}

} // namespace ParameterLimits
