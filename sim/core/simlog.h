#pragma once
// Logging category of the unit simulator.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSim)
