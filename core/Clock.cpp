#include "core/Clock.h"

#include <chrono>

Clock::~Clock() = default;

QDateTime Clock::now() const
{
    return QDateTime::fromMSecsSinceEpoch(wallNs() / 1'000'000);
}

qint64 SystemClock::wallNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

qint64 SystemClock::monotonicNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
