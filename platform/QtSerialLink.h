#pragma once

#include "core/PortNames.h"
#include "core/SerialLink.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <memory>

class QIODevice;

/// The real port, over QSerialPort, opened write-only.
class QtSerialLink : public SerialLink
{
public:
    bool open(const QString &device, const LineSettings &settings, QString *error) override;
    bool isOpen() const override;
    bool write(const QByteArray &bytes, QString *error) override;
    void close() override;

private:
    QSerialPort m_port;
    LineSettings m_settings;
    QString m_device;
};

/// Writes `bytes` to `device` and waits, at most `timeoutMs`, until none are left to
/// write; a serial port's bytes are handed to the driver at once. A write only counts
/// when the bytes have drained: write() accepting them into a buffer proves nothing.
bool writeDrained(QIODevice &device, const QByteArray &bytes, int timeoutMs, QString *error);

/// The serial port of this platform: PosixSerialLink on Unix, QtSerialLink elsewhere.
std::unique_ptr<SerialLink> createSerialLink();

namespace SerialPorts {

/// Where Linux gives serial adapters names that stay the same from plug to plug.
QString stableNamesFolder();

/// The serial ports the system reports, and the devices `stableNames` holds links to
/// (a stand-in folder for tests), each under its stable name where it has one.
QList<PortChoice> available(const QString &stableNames = stableNamesFolder());

} // namespace SerialPorts
