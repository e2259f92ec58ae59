#pragma once

#include "core/SerialLink.h"

/// The serial port on Windows, over the Win32 communications API: CreateFileW() on
/// \\.\COMn (exclusive by nature: a second opener is refused), the line settings through
/// SetCommState(), and a write that returns once the bytes have left the port
/// (FlushFileBuffers()). Failures carry the system's own text.
class Win32SerialLink : public SerialLink
{
public:
    ~Win32SerialLink() override;

    bool open(const QString &device, const LineSettings &settings, QString *error) override;
    bool isOpen() const override { return m_handle != nullptr; }
    bool write(const QByteArray &bytes, QString *error) override;
    void close() override;

    /// The path CreateFileW() opens for `device`: "COM12" and "\\.\COM12" are both
    /// \\.\COM12, which is the only form that reaches ports above 9.
    static QString win32Path(const QString &device);

private:
    void *m_handle = nullptr; ///< the port's HANDLE while it is open
    QString m_device;
};
