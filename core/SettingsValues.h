#pragma once

#include <QString>
#include <optional>

/// How the texts of the settings file become values.
namespace SettingsValues {

/// A signed 16-bit whole number: optional blanks around it, an optional sign, decimal
/// digits, within -32768 to 32767. Anything else has no value.
std::optional<qint16> parseInt16(const QString &text);

/// The device a CommPort text names: a port number (see parseInt16) names the platform's
/// port of that number, a device path names itself. No value when the text is neither, or
/// holds a control character;
/// an empty device when it is a number that names no port (below 1).
std::optional<QString> portDevice(const QString &commPortText);

} // namespace SettingsValues
