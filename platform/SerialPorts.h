#pragma once

#include "core/PortNames.h"
#include "core/SerialLink.h"

#include <QList>
#include <QString>
#include <memory>

/// The serial port of this platform: PosixSerialLink on Unix, Win32SerialLink on Windows.
std::unique_ptr<SerialLink> createSerialLink();

/// How this platform names its serial ports, for PortNames::setNaming().
const PortNaming &systemPortNaming();

namespace SerialPorts {

/// Where Linux gives serial adapters names that stay the same from plug to plug.
QString stableNamesFolder();

/// The serial ports the system reports, and the devices `stableNames` holds links to
/// (a stand-in folder for tests), each under its stable name where it has one.
QList<PortChoice> available(const QString &stableNames = stableNamesFolder());

} // namespace SerialPorts
