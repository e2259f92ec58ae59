#pragma once

#include <QLoggingCategory>

/// What the synchronisation does. Warnings (a failed open or write, a lost port, the PC
/// clock not synchronised) are on by default; info (start-up, the port opened, a
/// reconnect) with QT_LOGGING_RULES="orvantide.sync.info=true"; debug adds each frame sent
/// ("orvantide.sync.debug=true"). The service turns all of it on.
Q_DECLARE_LOGGING_CATEGORY(lcSync)
