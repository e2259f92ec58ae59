#pragma once

#include <QDateTime>

/// Where the program reads the time. The real one reads the PC clock; tests inject their own.
class Clock
{
public:
    virtual ~Clock();
    /// The current local date and time.
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override;
};
