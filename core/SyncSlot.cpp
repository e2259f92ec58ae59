#include "core/SyncSlot.h"

namespace {

constexpr qint64 kNsPerMs = 1'000'000;

} // namespace

SyncSlot nextSyncSlot(qint64 wallNs, qint64 lineTimeNs, qint64 leadNs)
{
    constexpr qint64 kNsPerSecond = 1000 * kNsPerMs;
    // Whole seconds since the epoch are whole seconds of local time too.
    qint64 second = wallNs / kNsPerSecond + 1;
    qint64 delayNs = second * kNsPerSecond - wallNs - lineTimeNs;
    while (delayNs < leadNs) {
        ++second;
        delayNs += kNsPerSecond;
    }
    return {QDateTime::fromSecsSinceEpoch(second), delayNs};
}
