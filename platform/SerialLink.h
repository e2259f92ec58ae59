#pragma once

#include "platform/LineSettings.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;

/// The serial port the program writes its frames to. It only opens, writes, queries and
/// closes; nothing is ever read.
class SerialLink
{
public:
    virtual ~SerialLink();

    /// Opens `device` for writing with the given line settings. Returns false with the
    /// system's reason in `error` when the port cannot be opened.
    virtual bool open(const QString &device, const LineSettings &settings, QString *error) = 0;
    virtual bool isOpen() const = 0;
    /// Writes `bytes` and returns once they have left the program for the driver. Returns
    /// false with the system's reason when they could not be written.
    virtual bool write(const QByteArray &bytes, QString *error) = 0;
    virtual void close() = 0;
    /// Calls `onHangUp` with the reason when the open device hangs up (an adapter
    /// unplugged, the other end of a pseudo-terminal closed), without waiting for the next
    /// write. A link that cannot tell never calls it.
    virtual void setHangUpHandler(std::function<void(const QString &reason)> onHangUp)
    {
        Q_UNUSED(onHangUp);
    }
};

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

namespace SerialPortNaming {

/// True for a text that names a device itself: on Linux an absolute path such as
/// /dev/ttyUSB0, on Windows "COMn" or "\\.\COMn".
bool isDevicePath(const QString &text);

/// The device of the platform's port number `number` (1 is the first port): COMn on
/// Windows, /dev/ttyS(n-1) on Linux. Empty when no port has that number.
QString deviceForNumber(int number);

/// The devices of the serial ports the system reports, such as /dev/ttyUSB0 or COM7.
QStringList availableDevices();

} // namespace SerialPortNaming
