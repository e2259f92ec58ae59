#include "core/Log.h"

Q_LOGGING_CATEGORY(lcSync, "orvantide.sync", QtWarningMsg)
