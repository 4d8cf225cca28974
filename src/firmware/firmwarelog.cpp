#include "firmwarelog.h"

Q_LOGGING_CATEGORY(lcFirmware, "tavik.firmware", QtWarningMsg)
