#pragma once

#include <QDateTime>

/// Where the program reads the time. The real one reads the PC clock; tests inject their own.
class Clock
{
public:
    virtual ~Clock();
    /// The PC clock: nanoseconds since 1970-01-01 00:00 UTC.
    virtual qint64 wallNs() const = 0;
    /// A clock that only ever runs forward at a steady rate, in nanoseconds from an
    /// arbitrary start; setting the PC clock does not move it.
    virtual qint64 monotonicNs() const = 0;

    /// The current local date and time (to the millisecond, cut).
    QDateTime now() const;
};

class SystemClock : public Clock
{
public:
    qint64 wallNs() const override;
    qint64 monotonicNs() const override;
};
