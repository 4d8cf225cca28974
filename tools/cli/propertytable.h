#pragma once
// The properties a command-line user can name, per module kind: accessor name to a
// type-erased read and write of that property on a driver of the kind.
#include "drivers/commondriver.h"

#include <QMap>
#include <QMetaType>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <type_traits>

struct PropertyAccess
{
    QMetaType type;
    std::function<QVariant(bool* ok, int tries)> read;               // empty: write-only
    std::function<void(const QVariant&, bool* ok, int tries)> write; // empty: read-only
};

struct ModuleKind
{
    QString name;
    // What a module of the kind answers to its type query (common command 6).
    QString typeString;
    std::function<std::unique_ptr<CommonDriver>()> create;
    // Accessor name to its access on a driver made by create().
    QMap<QString, std::function<PropertyAccess(CommonDriver*)>> properties;
};

// Every kind the tool knows ("sspd0", "sspd1", "temp0", "temp1", "heater", "sisbias",
// "sisline"), in that order.
const QList<ModuleKind>& moduleKinds();
const ModuleKind* findModuleKind(const QString& name);
// The kind whose modules answer typeString (padding and suffixes allowed); null when none.
const ModuleKind* moduleKindOfType(const QString& typeString);

template <typename Property> PropertyAccess propertyAccess(Property* p)
{
    using T = typename Property::Value;
    PropertyAccess access;
    access.type = QMetaType::fromType<T>();
    if constexpr (requires(bool* ok) { p->read(ok, 1); }) {
        access.read = [p](bool* ok, int tries) { return QVariant::fromValue(p->read(ok, tries)); };
    }
    if constexpr (requires(bool* ok) { p->writeSync(T{}, ok, 1); }) {
        access.write = [p](const QVariant& value, bool* ok, int tries) {
            p->writeSync(value.value<T>(), ok, tries);
        };
    }
    return access;
}
