#include "core/PortNames.h"

#include "core/Settings.h"

#include <QRegularExpression>

namespace PortNames {

bool isDevicePath(const QString &text)
{
#ifdef Q_OS_WIN
    static const QRegularExpression com(QStringLiteral("^(\\\\\\\\\\.\\\\)?COM[0-9]+$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return com.match(text).hasMatch();
#else
    return text.startsWith(QLatin1Char('/'));
#endif
}

QString deviceForNumber(int number)
{
    if (number < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

std::optional<QString> deviceFor(const QString &commPort)
{
    // A control character (a NUL from a damaged file) names no device.
    if (!SettingsFile::isStorable(commPort))
        return std::nullopt;
    if (const auto number = SettingsFile::parseInt16(commPort))
        return deviceForNumber(*number);
    if (isDevicePath(commPort))
        return commPort;
    return std::nullopt;
}

} // namespace PortNames
