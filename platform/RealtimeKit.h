#pragma once

#include <QString>

/// RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus), which makes a desktop
/// user's thread real-time within the limits it sets, as it does for sound servers.
namespace RealtimeKit {

/// Asks it to make thread `threadId` of this process SCHED_FIFO at `priority` (lowered to
/// its maximum). It demands an RLIMIT_RTTIME within its own maximum, which is set first.
/// False with `why` when it refuses or is not there.
bool makeThreadRealTime(qint64 threadId, int priority, QString *why);

} // namespace RealtimeKit
