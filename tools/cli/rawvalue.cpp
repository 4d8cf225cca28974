#include "rawvalue.h"

#include "drivers/structurejson.h"
#include "models/dataproviderlist.h"
#include "parameternames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaProperty>
#include <cmath>

namespace {

// Raw names of the module values that the application sets by a parameter name of its own,
// and so keeps within its panel's limits. They are the same on every kind that has them.
struct LimitedValue
{
    const char* raw;
    const char* parameter;
};

constexpr LimitedValue LimitedValues[] = {
    {"current", "current"},
    {"cmpRefLevel", "cmp_ref_level"},
    {"timeConst", "time_const"},
    {"autoResetThreshold", "auto_reset_threshold"},
    {"autoResetTimeOut", "auto_reset_time_out"},
    {"tempSensorCurrent", "temperature_sensor_current"},
};

int deviceTypeOfKind(const QString& kind)
{
    if (kind == QLatin1String("sspd0"))
        return DataProviderList::DeviceTypeSspdM0;
    if (kind == QLatin1String("sspd1"))
        return DataProviderList::DeviceTypeSspdM1;
    if (kind == QLatin1String("temp0"))
        return DataProviderList::DeviceTypeTempM0;
    return -1;
}

bool allFinite(const QJsonValue& json)
{
    if (json.isDouble())
        return std::isfinite(json.toDouble());
    if (json.isArray()) {
        const QJsonArray array = json.toArray();
        return std::all_of(array.begin(), array.end(),
                           [](const QJsonValue& v) { return allFinite(v); });
    }
    if (json.isObject()) {
        const QJsonObject object = json.toObject();
        return std::all_of(object.begin(), object.end(),
                           [](const QJsonValue& v) { return allFinite(v); });
    }
    return true;
}

// Writes the given fields over base, nested structures field by field; an unknown field
// is an error.
bool overlay(QJsonObject* base, const QJsonObject& given, const QString& path, QString* error)
{
    for (auto it = given.begin(); it != given.end(); ++it) {
        const QString name = path + it.key();
        if (!base->contains(it.key())) {
            *error = QStringLiteral("unknown field \"%1\"").arg(name);
            return false;
        }
        QJsonValue target = base->value(it.key());
        if (target.isObject() && it.value().isObject()) {
            QJsonObject nested = target.toObject();
            if (!overlay(&nested, it.value().toObject(), name + u'.', error))
                return false;
            target = nested;
        } else {
            target = it.value();
        }
        base->insert(it.key(), target);
    }
    return true;
}

bool covers(const QJsonObject& given, const QJsonObject& full)
{
    for (auto it = full.begin(); it != full.end(); ++it) {
        const QJsonValue field = given.value(it.key());
        if (field.isUndefined())
            return false;
        if (it.value().isObject() && field.isObject() &&
            !covers(field.toObject(), it.value().toObject()))
            return false;
    }
    return true;
}

// The first given field that is no value of its type, for the error text.
QString badField(const QJsonObject& given, QMetaType type)
{
    const QMetaObject* meta = type.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty field = meta->property(i);
        const QJsonValue value = given.value(QString::fromLatin1(field.name()));
        bool ok = true;
        if (!value.isUndefined())
            cuFromJson(value, field.metaType(), &ok);
        if (!ok)
            return QStringLiteral("field \"%1\" takes no %2 (%3)")
                .arg(QString::fromLatin1(field.name()),
                     QString::fromUtf8(QJsonDocument(QJsonArray{value})
                                           .toJson(QJsonDocument::Compact)
                                           .mid(1)
                                           .chopped(1)),
                     QString::fromLatin1(field.metaType().name()));
    }
    return QStringLiteral("a field has the wrong type or range");
}

std::optional<RawValue> parseStructure(const QString& text, QMetaType type, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not valid JSON: %1 at character %2")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("a JSON object of the structure's fields is needed");
        return std::nullopt;
    }
    RawValue raw;
    raw.fields = document.object();
    const QJsonObject zero = cuToJson(QVariant(type)).toObject();
    QJsonObject merged = zero;
    if (!overlay(&merged, raw.fields, QString(), error))
        return std::nullopt;
    bool ok = false;
    raw.value = cuFromJson(merged, type, &ok);
    if (!ok) {
        *error = badField(raw.fields, type);
        return std::nullopt;
    }
    raw.partial = !covers(raw.fields, zero);
    return raw;
}

bool fitsEnumeration(double number, QMetaType type)
{
    const double bits = 8.0 * double(type.sizeOf());
    const bool isUnsigned = type.flags() & QMetaType::IsUnsignedEnumeration;
    const double low = isUnsigned ? 0.0 : -std::exp2(bits - 1);
    const double high = isUnsigned ? std::exp2(bits) - 1 : std::exp2(bits - 1) - 1;
    return std::floor(number) == number && number >= low && number <= high;
}

std::optional<RawValue> parseScalar(const QString& trimmed, QMetaType type, QString* error)
{
    RawValue raw;
    bool ok = false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (type.id() == QMetaType::Bool) {
        ok = trimmed == "0" || trimmed == "1" || trimmed == "true" || trimmed == "false";
        raw.value = trimmed == "1" || trimmed == "true";
    } else if (isNumber) {
        if (!std::isfinite(number)) {
            *error = QStringLiteral("the value must be a finite number");
            return std::nullopt;
        }
        // An enumeration takes its number cast to an integer: only whole numbers its
        // underlying type holds.
        if (!(type.flags() & QMetaType::IsEnumeration) || fitsEnumeration(number, type))
            raw.value = cuFromJson(number, type, &ok);
    } else {
        raw.value = cuFromJson(trimmed, type, &ok); // enumeration keys, identifiers
    }
    if (!ok) {
        *error = QStringLiteral("no value of the type, or out of its range");
        return std::nullopt;
    }
    return raw;
}

} // namespace

std::optional<RawValue> parseRawValue(const QString& text, QMetaType type, QString* error)
{
    const QString trimmed = text.trimmed();
    const bool structure = type.flags() & QMetaType::IsGadget;
    std::optional<RawValue> raw =
        structure ? parseStructure(trimmed, type, error) : parseScalar(trimmed, type, error);
    // A float field takes a double's number as infinity when it is too large for it.
    if (raw && !allFinite(cuToJson(raw->value))) {
        *error = QStringLiteral("too large for the type; the value must be a finite number");
        return std::nullopt;
    }
    return raw;
}

std::optional<QVariant> mergedOver(const RawValue& raw, const QVariant& current, QString* error)
{
    QJsonObject merged = cuToJson(current).toObject();
    if (!overlay(&merged, raw.fields, QString(), error))
        return std::nullopt;
    bool ok = false;
    const QVariant value = cuFromJson(merged, current.metaType(), &ok);
    if (!ok) {
        *error = QStringLiteral("the module's current value does not take the given fields");
        return std::nullopt;
    }
    return value;
}

QString beyondLimits(const QString& kind, const QString& property, const RawValue& raw)
{
    const int type = deviceTypeOfKind(kind);
    if (type < 0)
        return {};
    for (const LimitedValue& limited : LimitedValues) {
        const QString name = QLatin1String(limited.raw);
        double value = 0;
        if (raw.fields.isEmpty() && property == name)
            value = raw.value.toDouble();
        else if (raw.fields.value(name).isDouble())
            value = raw.fields.value(name).toDouble();
        else
            continue;
        const QString parameter = QLatin1String(limited.parameter);
        const std::optional<ParameterRange> range = panelRange(type, parameter);
        if (!range || range->contains(value))
            continue;
        const ParameterName* known = findParameterName(parameter);
        return QStringLiteral("%1 = %2 is beyond what the application allows (%3 %4); --force "
                              "sends it anyway")
            .arg(name)
            .arg(value)
            .arg(range->text(), known ? known->unit : QString());
    }
    return {};
}
