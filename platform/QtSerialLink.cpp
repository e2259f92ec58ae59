#include "platform/QtSerialLink.h"

#ifdef Q_OS_UNIX
#include "platform/PosixSerialLink.h"
#endif

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QMap>
#include <QSerialPortInfo>

namespace {

QSerialPort::Parity parityOf(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    case LineSettings::Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

} // namespace

bool QtSerialLink::open(const QString &device, const LineSettings &settings, QString *error)
{
    if (m_port.isOpen())
        m_port.close();
    m_settings = settings;
    m_device = device;
    m_port.setPortName(device);
    m_port.setBaudRate(settings.baudRate);
    m_port.setParity(parityOf(settings.parity));
    m_port.setDataBits(QSerialPort::DataBits(settings.dataBits));
    m_port.setStopBits(settings.stopBits == LineSettings::StopBits::One ? QSerialPort::OneStop
                       : settings.stopBits == LineSettings::StopBits::Two
                           ? QSerialPort::TwoStop
                           : QSerialPort::OneAndHalfStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (m_port.open(QIODevice::WriteOnly))
        return true;
    if (error)
        *error = QStringLiteral("Could not open %1: %2").arg(device, m_port.errorString());
    return false;
}

bool QtSerialLink::isOpen() const
{
    return m_port.isOpen();
}

bool QtSerialLink::write(const QByteArray &bytes, QString *error)
{
    // The line time of the bytes plus a generous margin for the driver.
    const double seconds = bytes.size() * m_settings.bitsPerCharacter() / m_settings.baudRate;
    const int timeoutMs = 500 + int(seconds * 1000.0);
    m_port.clearError();
    QString reason;
    if (writeDrained(m_port, bytes, timeoutMs, &reason))
        return true;
    if (error)
        *error = QStringLiteral("Could not write to %1: %2").arg(m_device, reason);
    return false;
}

void QtSerialLink::close()
{
    if (m_port.isOpen())
        m_port.close();
}

namespace {

/// Waits, at most `timeoutMs`, until `device` has no bytes left to write.
bool waitDrained(QIODevice &device, int timeoutMs, QString *error)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (device.bytesToWrite() > 0) {
        if (!device.waitForBytesWritten(int(deadline.remainingTime()))) {
            const QString reason = device.errorString();
            if (error)
                *error =
                    deadline.hasExpired() || reason.isEmpty() ||
                            reason == QLatin1String("Unknown error")
                        ? QStringLiteral("the bytes were not taken within %1 ms").arg(timeoutMs)
                        : reason;
            return false;
        }
    }
    return true;
}

} // namespace

bool writeDrained(QIODevice &device, const QByteArray &bytes, int timeoutMs, QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (device.write(bytes) != bytes.size())
        return fail(device.errorString());
    if (auto *port = qobject_cast<QSerialPort *>(&device)) {
        // Hand the bytes to the driver at once: waitForBytesWritten() first waits for the
        // port to report itself writable, which now and then costs milliseconds.
        port->flush();
        if (port->error() != QSerialPort::NoError)
            return fail(port->errorString());
    }
    return waitDrained(device, timeoutMs, error);
}

std::unique_ptr<SerialLink> createSerialLink()
{
#ifdef Q_OS_UNIX
    return std::make_unique<PosixSerialLink>();
#else
    return std::make_unique<QtSerialLink>();
#endif
}

namespace SerialPorts {

QString stableNamesFolder()
{
    return QStringLiteral("/dev/serial/by-id");
}

QList<PortChoice> available(const QString &stableNames)
{
    // The stable names are links to the devices: device -> its stable name.
    QMap<QString, QString> stableName;
    for (const QFileInfo &link :
         QDir(stableNames)
             .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString device = link.canonicalFilePath();
        if (link.isSymLink() && !device.isEmpty() && !stableName.contains(device))
            stableName.insert(device, link.absoluteFilePath());
    }
    QList<PortChoice> choices;
    QStringList listed;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        const QString device = port.systemLocation();
        const QString canonical = QFileInfo(device).canonicalFilePath();
        QStringList about;
        for (const QString &part : {port.description(), port.manufacturer()}) {
            if (!part.isEmpty() && !about.contains(part))
                about << part;
        }
        if (!port.serialNumber().isEmpty())
            about << QStringLiteral("serial number %1").arg(port.serialNumber());
        choices.append(
            {stableName.value(canonical, device), device, about.join(QStringLiteral(", "))});
        listed << canonical;
    }
    for (auto it = stableName.cbegin(); it != stableName.cend(); ++it) {
        if (!listed.contains(it.key()))
            choices.append({it.value(), it.key(), QString()});
    }
    return choices;
}

} // namespace SerialPorts
