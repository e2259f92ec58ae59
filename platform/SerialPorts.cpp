#include "platform/SerialPorts.h"

#ifdef Q_OS_WIN
#include "platform/Win32SerialLink.h"

#include <QSettings>
#else
#include "platform/PosixSerialLink.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSerialPortInfo>
#endif

std::unique_ptr<SerialLink> createSerialLink()
{
#ifdef Q_OS_WIN
    return std::make_unique<Win32SerialLink>();
#else
    return std::make_unique<PosixSerialLink>();
#endif
}

namespace SerialPorts {

#ifdef Q_OS_WIN

QString stableNamesFolder()
{
    return {};
}

QList<PortChoice> available(const QString &)
{
    // The ports Windows has, from the registry: the value names the driver's device, the
    // data the port's name.
    QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                  QSettings::NativeFormat);
    QList<PortChoice> choices;
    for (const QString &key : map.childKeys()) {
        const QString port = map.value(key).toString();
        if (!port.isEmpty())
            choices.append({port, port, key.section(QLatin1Char('\\'), -1)});
    }
    return choices;
}

#else

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

#endif

} // namespace SerialPorts
