#pragma once
// Logging category of the data models.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcModels)
