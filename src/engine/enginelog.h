#pragma once
// Logging category of the measurement engine.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)
