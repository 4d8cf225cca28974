#include "driverslog.h"

Q_LOGGING_CATEGORY(lcDrivers, "tavik.drivers", QtWarningMsg)
