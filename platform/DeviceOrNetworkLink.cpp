#include "platform/DeviceOrNetworkLink.h"

#include "core/Reason.h"

#include "core/PortNames.h"

bool DeviceOrNetworkLink::open(const QString &device, const LineSettings &settings, QString *error)
{
    close();
    // What is not a device path is a network port, or says why it is none.
    m_open = PortNames::isDevicePath(device) ? static_cast<SerialLink *>(&m_device) : &m_network;
    return m_open->open(device, settings, error);
}

bool DeviceOrNetworkLink::write(const QByteArray &bytes, QString *error)
{
    if (m_open)
        return m_open->write(bytes, error);
    if (error)
        *error = Reason::text(QT_TRANSLATE_NOOP("Reason", "The port is not open."));
    return false;
}

SerialLink::Started DeviceOrNetworkLink::startWrite(const QByteArray &bytes, QString *error)
{
    return m_open                ? m_open->startWrite(bytes, error)
           : write(bytes, error) ? Started::Done
                                 : Started::Failed;
}

bool DeviceOrNetworkLink::finishWrite(QString *error)
{
    return m_open ? m_open->finishWrite(error) : write({}, error);
}

void DeviceOrNetworkLink::close()
{
    if (m_open)
        m_open->close();
}

void DeviceOrNetworkLink::setHangUpHandler(std::function<void(const QString &reason)> onHangUp)
{
    m_device.setHangUpHandler(onHangUp);
    m_network.setHangUpHandler(std::move(onHangUp));
}

void DeviceOrNetworkLink::setReadyHandler(std::function<void()> onReady)
{
    m_network.setReadyHandler(std::move(onReady));
}
