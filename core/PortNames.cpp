#include "core/PortNames.h"

#include "core/Reason.h"

#include "core/Settings.h"

#include <QRegularExpression>

namespace {

/// Names nothing: what the rules follow before the platform's naming is set.
class NoNaming : public PortNaming
{
public:
    bool isDevicePath(const QString &) const override { return false; }
    QString deviceForNumber(int) const override { return QString(); }
    QString exampleDevice() const override { return QString(); }
    QString whyNoNetworkPorts() const override { return QString(); }
};

const NoNaming g_noNaming;
const PortNaming *g_naming = &g_noNaming;

} // namespace

namespace PortNames {

void setNaming(const PortNaming *naming)
{
    g_naming = naming ? naming : &g_noNaming;
}

bool isDevicePath(const QString &text)
{
    return g_naming->isDevicePath(text);
}

QString deviceForNumber(int number)
{
    return number < 1 ? QString() : g_naming->deviceForNumber(number);
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
    if (const QString refused = g_naming->whyNoNetworkPorts(); !refused.isEmpty())
        return refuse(refused);
    // HOST is a name of letters, digits, '-' and '.', a dotted IPv4 address, or an IPv6
    // address in brackets; PORT is a number from 1 to 65535.
    static const QRegularExpression address(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9](?:[A-Za-z0-9.-]{0,252}[A-Za-z0-9])?"
                       ")):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = address.match(text.mid(start));
    const uint number = match.hasMatch() ? match.captured(3).toUInt() : 0;
    if (!match.hasMatch() || number < 1 || number > 65535)
        return refuse(Reason::text(
            QT_TRANSLATE_NOOP("Reason", "\"%1\" names no network port: it must be "
                                        "rfc2217://HOST:PORT or socket://HOST:PORT, with a host "
                                        "name or address and a port from 1 to 65535."),
            text));
    port.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    port.port = quint16(number);
    return port;
}

QString whyNoPort(const QString &commPort)
{
    QString why;
    if (!networkPort(commPort, &why) && !why.isEmpty())
        return why;
    return Reason::text(QT_TRANSLATE_NOOP("Reason", "\"%1\" names no serial port: it must be %2."),
                        commPort, whatNamesAPort(true));
}

QString whatNamesAPort(bool withExample)
{
    const QString example = g_naming->exampleDevice();
    const QString device =
        withExample && !example.isEmpty()
            ? Reason::text(QT_TRANSLATE_NOOP("Reason", "a device path such as %1"), example)
            : Reason::text(QT_TRANSLATE_NOOP("Reason", "a device path"));
    const QString number =
        withExample ? Reason::text(QT_TRANSLATE_NOOP("Reason", "a port number of 1 or more"))
                    : Reason::text(QT_TRANSLATE_NOOP("Reason", "a port number such as 1"));
    if (!g_naming->whyNoNetworkPorts().isEmpty())
        return Reason::text(QT_TRANSLATE_NOOP("Reason", "%1, or %2"), number, device);
    return Reason::text(
        QT_TRANSLATE_NOOP("Reason", "%1, %2, or rfc2217://HOST:PORT or socket://HOST:PORT"), number,
        device);
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
