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

/// A serial port on a device server of the network, as its name gives it.
struct NetworkPort
{
    enum class Protocol {
        Rfc2217, ///< rfc2217://HOST:PORT: Telnet, the line settings set through the server
        RawTcp,  ///< socket://HOST:PORT: the bytes alone; the server's port keeps its settings
    };
    Protocol protocol = Protocol::RawTcp;
    QString host; ///< a name or an IPv4 address, or an IPv6 address without its brackets
    quint16 port = 0;
};

/// How the platform names its serial ports; the platform implements it.
class PortNaming
{
public:
    virtual ~PortNaming() = default;
    /// What names a port, for messages: "a port number of 1 or more, a device path such as
/// /dev/ttyS0, or rfc2217://HOST:PORT or socket://HOST:PORT"; without `withExample`, "a
/// port number such as 1, a device path, or ...".
QString whatNamesAPort(bool withExample);

/// True for a text that names a device itself ("/dev/ttyUSB0", "COM3").
    virtual bool isDevicePath(const QString &text) const = 0;
    /// The device of the platform's port number `number`, 1 or more.
    virtual QString deviceForNumber(int number) const = 0;
    /// A device path as the platform writes one, for messages ("/dev/ttyS0").
    virtual QString exampleDevice() const = 0;
    /// Why the platform takes no network port names; empty where it takes them.
    virtual QString whyNoNetworkPorts() const = 0;
};

/// How the settings name a serial port: by the platform's port number, by a device path,
/// or, where the platform takes them, by a device server's address.
namespace PortNames {

/// The platform's naming, which everything below follows; main() sets it before any port
/// is named. Until it is set no number or path names a port. `naming` outlives its use.
void setNaming(const PortNaming *naming);

/// The network port `text` names (rfc2217://HOST:PORT or socket://HOST:PORT, the scheme
/// in any case, an IPv6 HOST in brackets). No value when it names none; `why` then says
/// what is wrong with a text that begins with either scheme, or why the platform takes
/// none (on Windows, device servers come with COM port drivers of their own).
std::optional<NetworkPort> networkPort(const QString &text, QString *why = nullptr);

/// Why `commPort` names no port, in a sentence that says what would.
QString whyNoPort(const QString &commPort);

/// What names a port, for messages: "a port number of 1 or more, a device path such as
/// /dev/ttyS0, or rfc2217://HOST:PORT or socket://HOST:PORT"; without `withExample`, "a
/// port number such as 1, a device path, or ...".
QString whatNamesAPort(bool withExample);

/// True for a text that names a device itself (the platform's naming says which).
bool isDevicePath(const QString &text);

/// The device of the platform's port number `number` (1 is the first port). Empty when no
/// port has that number.
QString deviceForNumber(int number);

/// The device a CommPort text names: a port number names the platform's port of that
/// number, a device path and a network port name themselves. No value when the text is
/// none of them, or holds a control character; an empty device when it is a number that
/// names no port (below 1).
std::optional<QString> deviceFor(const QString &commPort);

} // namespace PortNames
