#pragma once

#include <QString>
#include <optional>

/// A serial port the system reports, as the settings dialog offers it.
struct PortChoice
{
    /// What CommPort stores: the port's stable name (/dev/serial/by-id/...) where it has
    /// one, so that a USB adapter keeps its name whichever socket it is plugged into; else
    /// its device.
    QString value;
    QString device;      ///< the device it is now, e.g. /dev/ttyUSB0 or COM7
    QString description; ///< what it is: description, maker, serial number; may be empty
};

/// How the settings name a serial port: by the platform's port number or by a device path.
namespace PortNames {

/// True for a text that names a device itself: on Linux an absolute path such as
/// /dev/ttyUSB0, on Windows "COMn" or "\\.\COMn".
bool isDevicePath(const QString &text);

/// The device of the platform's port number `number` (1 is the first port): COMn on
/// Windows, /dev/ttyS(n-1) on Linux. Empty when no port has that number.
QString deviceForNumber(int number);

/// The device a CommPort text names: a port number names the platform's port of that
/// number, a device path names itself. No value when the text is neither, or holds a
/// control character; an empty device when it is a number that names no port (below 1).
std::optional<QString> deviceFor(const QString &commPort);

} // namespace PortNames
