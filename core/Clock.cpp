#include "core/Clock.h"

#include <chrono>

Clock::~Clock() = default;

QDateTime SystemClock::now() const
{
    // Rounded rather than cut to the millisecond, so that times planned from it are off
    // by half a millisecond at most, either way.
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return QDateTime::fromMSecsSinceEpoch((us + 500) / 1000);
}

qint64 SystemClock::monotonicNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
