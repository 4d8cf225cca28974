#include "modelslog.h"

Q_LOGGING_CATEGORY(lcModels, "tavik.models", QtWarningMsg)
