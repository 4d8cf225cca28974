#pragma once
// Logging category of the serial bootloader.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcBoot)
