#pragma once

#include <QDateTime>

/// When a frame is to be written so that its last byte leaves the port exactly as the
/// second it carries begins: the write starts at that second less the frame's time on
/// the line.
struct SyncSlot
{
    QDateTime second; ///< the second the frame carries, on the whole second
    qint64 delayNs;   ///< from now to the start of the write
};

/// The first slot whose write starts at least `leadNs` after `wallNs` (nanoseconds since
/// the epoch, as Clock::wallNs()).
SyncSlot nextSyncSlot(qint64 wallNs, qint64 lineTimeNs, qint64 leadNs);
