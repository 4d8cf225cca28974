#include "enginelog.h"

Q_LOGGING_CATEGORY(lcEngine, "tavik.engine", QtWarningMsg)
