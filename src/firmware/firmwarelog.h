#pragma once
// Logging category of firmware maintenance.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcFirmware)
