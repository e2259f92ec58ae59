#pragma once

#include <QString>

#include <functional>

/// Watches for a serial device to appear at its name, so that a port that went away (an
/// adapter unplugged) is opened again as soon as it is back. The platform implements it.
class DeviceWatch
{
public:
    virtual ~DeviceWatch() = default;

    /// Watches for `device` from now on; empty: for nothing. A name the platform cannot
    /// watch (a network port) is left to the port keeper's retries.
    virtual void watch(const QString &device) = 0;
    /// True when `device` is there now, whether or not it opens.
    virtual bool isPresent(const QString &device) const = 0;
    /// Calls `onAppeared`, on the thread that made the watch, when the watched device
    /// appears.
    virtual void setAppearedHandler(std::function<void()> onAppeared) = 0;
};
