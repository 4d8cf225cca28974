#pragma once
// What a raw `write` may send: the command line's text as a value of the property's type,
// finite and within the type's range; a structure as a JSON object of all or some of its
// fields (the others then come from the module's current value); and, for the properties
// that carry a parameter of the application, a value within the application's limits.
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <optional>

struct RawValue
{
    QVariant value;       // the value to send; when partial, the given fields over zeros
    QJsonObject fields;   // a structure's fields as given; empty for other types
    bool partial = false; // a structure with fields left out
};

// The value for a property of the given type, or nullopt with the reason in error.
std::optional<RawValue> parseRawValue(const QString& text, QMetaType type, QString* error);

// A partial structure's given fields written over the module's current value.
std::optional<QVariant> mergedOver(const RawValue& raw, const QVariant& current, QString* error);

// Empty when the value of the kind's property stays within the application's limits, or
// the property has none; otherwise why it does not.
QString beyondLimits(const QString& kind, const QString& property, const RawValue& raw);
