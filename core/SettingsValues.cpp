#include "core/SettingsValues.h"

#include "platform/SerialLink.h"

#include <QRegularExpression>

namespace SettingsValues {

std::optional<qint16> parseInt16(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[ \\t]*([+-]?[0-9]{1,18})[ \\t]*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const qlonglong value = match.captured(1).toLongLong();
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

std::optional<QString> portDevice(const QString &commPortText)
{
    // A control character (a NUL from a damaged file) names no device.
    for (const QChar c : commPortText) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    if (const auto number = parseInt16(commPortText))
        return SerialPortNaming::deviceForNumber(*number);
    if (SerialPortNaming::isDevicePath(commPortText))
        return commPortText;
    return std::nullopt;
}

} // namespace SettingsValues
