#pragma once

#include <QDateTime>

/// Where the program reads the time. The real one reads the PC clock; tests inject their own.
class Clock
{
public:
    virtual ~Clock();
    /// The current local date and time.
    virtual QDateTime now() const = 0;
    /// A clock that only ever runs forward at a steady rate, in nanoseconds from an
    /// arbitrary start; setting the PC clock does not move it.
    virtual qint64 monotonicNs() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override;
    qint64 monotonicNs() const override;
};
