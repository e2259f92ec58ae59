#include "platform/SerialPorts.h"

namespace {

/// Linux names a serial device by its path; port number n is the n-th 16550 UART.
class LinuxPortNaming : public PortNaming
{
public:
    bool isDevicePath(const QString &text) const override
    {
        return text.startsWith(QLatin1Char('/'));
    }
    QString deviceForNumber(int number) const override
    {
        return QStringLiteral("/dev/ttyS%1").arg(number - 1);
    }
    QString exampleDevice() const override { return QStringLiteral("/dev/ttyS0"); }
    QString whyNoNetworkPorts() const override { return QString(); }
};

} // namespace

const PortNaming &systemPortNaming()
{
    static const LinuxPortNaming naming;
    return naming;
}
