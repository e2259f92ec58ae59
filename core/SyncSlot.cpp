#include "core/SyncSlot.h"

namespace {

constexpr qint64 kNsPerMs = 1'000'000;

} // namespace

SyncSlot nextSyncSlot(const QDateTime &now, qint64 lineTimeNs, qint64 leadNs)
{
    QDateTime second = now.addMSecs(1000 - now.time().msec());
    qint64 delayNs = now.msecsTo(second) * kNsPerMs - lineTimeNs;
    while (delayNs < leadNs) {
        second = second.addSecs(1);
        delayNs += 1000 * kNsPerMs;
    }
    return {second, delayNs};
}

qint64 localWallMs(const QDateTime &time)
{
    return QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch();
}
