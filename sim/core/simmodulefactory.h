#pragma once
// Builds a module model from its type string, as a rack description names it.
#include "simmodule.h"

#include <QStringList>

namespace SimModuleFactory {

// Every type string create() knows, SSPD and temperature modules first.
QStringList types();
bool isKnownType(const QString& type);
// The identity a module of this type has when a rack gives none (UDID made from the type
// and the address, so that it stays the same from run to run).
SimModule::Identity defaultIdentity(const QString& type, quint8 address);
// Null for an unknown type.
SimModule* create(const QString& type, quint8 address, const SimModule::Identity& identity,
                  SimEnvironment* environment, QObject* parent = nullptr);

} // namespace SimModuleFactory
