#include "platform/SerialPorts.h"

#ifdef Q_OS_WIN
#include "platform/Win32SerialLink.h"

#include <algorithm>
#include <iterator>
#include <windows.h>
#else
#include "platform/DeviceOrNetworkLink.h"

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
    return std::make_unique<DeviceOrNetworkLink>();
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
    // The ports Windows has, from the registry: each value's name is the driver's device
    // (\Device\Serial0), its data the port's name. QSettings cannot read these, since
    // it takes the backslashes in a value's name for sub-keys.
    QList<PortChoice> choices;
    HKEY map = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &map) != ERROR_SUCCESS)
        return choices;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[256];
        DWORD nameLength = DWORD(std::size(name));
        DWORD dataBytes = DWORD(sizeof data);
        DWORD type = 0;
        const LONG status = RegEnumValueW(map, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataBytes);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (type != REG_SZ || dataBytes < sizeof(wchar_t))
            continue;
        QString port = QString::fromWCharArray(data, int(dataBytes / sizeof(wchar_t)));
        while (port.endsWith(QChar(0)))
            port.chop(1);
        const QString device = QString::fromWCharArray(name, int(nameLength));
        if (!port.isEmpty())
            choices.append({port, port, device.section(QLatin1Char('\\'), -1)});
    }
    RegCloseKey(map);
    // COM2 before COM10.
    std::sort(choices.begin(), choices.end(), [](const PortChoice &a, const PortChoice &b) {
        const int left = a.value.mid(3).toInt();
        const int right = b.value.mid(3).toInt();
        return left != right ? left < right : a.value < b.value;
    });
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
