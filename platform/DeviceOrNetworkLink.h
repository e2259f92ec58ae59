#pragma once

#include "core/SerialLink.h"
#include "platform/NetworkSerialLink.h"
#include "platform/PosixSerialLink.h"

/// The port a name gives: a device through termios, or a device server's port
/// (rfc2217:// or socket://) over the network. Linux.
class DeviceOrNetworkLink : public SerialLink
{
public:
    bool open(const QString &device, const LineSettings &settings, QString *error) override;
    bool isOpen() const override { return m_open && m_open->isOpen(); }
    bool write(const QByteArray &bytes, QString *error) override;
    Started startWrite(const QByteArray &bytes, QString *error) override;
    bool finishWrite(QString *error) override;
    void close() override;
    void setHangUpHandler(std::function<void(const QString &reason)> onHangUp) override;
    void setReadyHandler(std::function<void()> onReady) override;

private:
    PosixSerialLink m_device;
    NetworkSerialLink m_network;
    SerialLink *m_open = nullptr; ///< the one last opened
};
