#pragma once
// Logging category of the module drivers.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDrivers)
