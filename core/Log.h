#pragma once

#include <QLoggingCategory>

/// What the synchronisation does: start-up, frames sent, failed opens and writes,
/// reconnects. Silent unless turned on, e.g. QT_LOGGING_RULES="orvantide.sync.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcSync)
