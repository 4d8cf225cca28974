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

template <typename T> QJsonValue cuToJson(const T& value)
{
    return cuToJson(QVariant::fromValue(value));
}

template <typename T> T cuFromJson(const QJsonValue& json, bool* ok = nullptr)
{
    return cuFromJson(json, QMetaType::fromType<T>(), ok).template value<T>();
}
