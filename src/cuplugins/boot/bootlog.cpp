#include "bootlog.h"

Q_LOGGING_CATEGORY(lcBoot, "tavik.boot", QtWarningMsg)
