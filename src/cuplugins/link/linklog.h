#pragma once
// Logging category of the device link (transports, codec, endpoints).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
