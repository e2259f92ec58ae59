#include "platform/SerialPorts.h"

#include <QRegularExpression>

namespace {

/// Windows names a serial port COMn, or \\.\COMn as its device; port number n is COMn.
class WindowsPortNaming : public PortNaming
{
public:
    bool isDevicePath(const QString &text) const override
    {
        static const QRegularExpression com(QStringLiteral("^(\\\\\\\\\\.\\\\)?COM[0-9]+$"),
                                            QRegularExpression::CaseInsensitiveOption);
        return com.match(text).hasMatch();
    }
    QString deviceForNumber(int number) const override
    {
        return QStringLiteral("COM%1").arg(number);
    }
    QString exampleDevice() const override { return QStringLiteral("COM1"); }
    QString whyNoNetworkPorts() const override
    {
        return QStringLiteral("Network ports are for Linux; on Windows, the device server's "
                              "own driver gives it a COM port.");
    }
};

} // namespace

const PortNaming &systemPortNaming()
{
    static const WindowsPortNaming naming;
    return naming;
}
