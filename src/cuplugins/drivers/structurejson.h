#pragma once
// Module structures as JSON objects, field by field under their field names, through the
// structures' meta-objects: for tools, rack descriptions and calibration files.
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaType>
#include <QVariant>

// A value of a registered type as JSON: numbers, booleans, texts, enumerations (by key),
// calibration pairs as {"first", "second"}, identifiers in their text form, relay bytes as
// numbers, byte blocks as hexadecimal text, lists as arrays, structures (gadgets) as objects.
// Unknown types give an undefined value.
QJsonValue cuToJson(const QVariant& value);

// The reverse for a value of the given type; missing fields of a structure keep their zero
// bytes. ok is false when a field has the wrong JSON type or the type is not supported.
QVariant cuFromJson(const QJsonValue& json, QMetaType type, bool* ok = nullptr);

// Writes the fields of a JSON object over a structure: fields left out keep their values.
// An unknown field, a wrong type or a value that is no object leaves the structure as it was
// and returns false, with the reason (naming what) in error.
bool cuMergeJson(const QJsonValue& json, QVariant* value, const QString& what, QString* error);

template <typename T> QJsonValue cuToJson(const T& value)
{
    return cuToJson(QVariant::fromValue(value));
}

template <typename T>
bool cuMergeJson(const QJsonValue& json, T* value, const QString& what, QString* error)
{
    QVariant merged = QVariant::fromValue(*value);
    if (!cuMergeJson(json, &merged, what, error))
        return false;
    *value = merged.template value<T>();
    return true;
}

template <typename T> T cuFromJson(const QJsonValue& json, bool* ok = nullptr)
{
    return cuFromJson(json, QMetaType::fromType<T>(), ok).template value<T>();
}
