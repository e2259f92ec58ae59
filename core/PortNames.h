#pragma once

#include <QString>
#include <optional>

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
