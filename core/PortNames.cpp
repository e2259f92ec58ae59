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

std::optional<NetworkPort> networkPort(const QString &text, QString *why)
{
    const auto refuse = [&](const QString &reason) -> std::optional<NetworkPort> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    NetworkPort port;
    qsizetype start = 0;
    if (text.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive)) {
        port.protocol = NetworkPort::Protocol::Rfc2217;
        start = 10;
    } else if (text.startsWith(QLatin1String("socket://"), Qt::CaseInsensitive)) {
        port.protocol = NetworkPort::Protocol::RawTcp;
        start = 9;
    } else {
        return refuse(QString());
    }
#ifdef Q_OS_WIN
    Q_UNUSED(start);
    return refuse(QStringLiteral("Network ports are for Linux; on Windows, the device server's "
                                 "own driver gives it a COM port."));
#else
    // HOST is a name of letters, digits, '-' and '.', a dotted IPv4 address, or an IPv6
    // address in brackets; PORT is a number from 1 to 65535.
    static const QRegularExpression address(QStringLiteral(
        "^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9](?:[A-Za-z0-9.-]{0,252}[A-Za-z0-9])?)):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = address.match(text.mid(start));
    const uint number = match.hasMatch() ? match.captured(3).toUInt() : 0;
    if (!match.hasMatch() || number < 1 || number > 65535)
        return refuse(QStringLiteral("\"%1\" names no network port: it must be "
                                     "rfc2217://HOST:PORT or socket://HOST:PORT, with a host "
                                     "name or address and a port from 1 to 65535.")
                          .arg(text));
    port.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    port.port = quint16(number);
    return port;
#endif
}

QString whyNoPort(const QString &commPort)
{
    QString why;
    if (!networkPort(commPort, &why) && !why.isEmpty())
        return why;
#ifdef Q_OS_WIN
    return QStringLiteral("\"%1\" names no serial port: it must be a port number of 1 or more, "
                          "or a device path such as COM1.")
        .arg(commPort);
#else
    return QStringLiteral("\"%1\" names no serial port: it must be a port number of 1 or more, "
                          "a device path such as /dev/ttyS0, or rfc2217://HOST:PORT or "
                          "socket://HOST:PORT.")
        .arg(commPort);
#endif
}

std::optional<QString> deviceFor(const QString &commPort)
{
    // A control character (a NUL from a damaged file) names no device.
    if (!SettingsFile::isStorable(commPort))
        return std::nullopt;
    if (const auto number = SettingsFile::parseInt16(commPort))
        return deviceForNumber(*number);
    if (isDevicePath(commPort) || networkPort(commPort))
        return commPort;
    return std::nullopt;
}

} // namespace PortNames
