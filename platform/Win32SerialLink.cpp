#include "platform/Win32SerialLink.h"

#include "core/Reason.h"

#include "platform/SystemText.h"

#include <QtGlobal>

#include <cmath>
#include <windows.h>

namespace {

QString systemReason(DWORD code)
{
    return windowsErrorText(code);
}

BYTE parityOf(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::Even:
        return EVENPARITY;
    case LineSettings::Parity::Odd:
        return ODDPARITY;
    case LineSettings::Parity::Mark:
        return MARKPARITY;
    case LineSettings::Parity::Space:
        return SPACEPARITY;
    case LineSettings::Parity::None:
        break;
    }
    return NOPARITY;
}

BYTE stopBitsOf(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case LineSettings::StopBits::Two:
        return TWOSTOPBITS;
    case LineSettings::StopBits::One:
        break;
    }
    return ONESTOPBIT;
}

} // namespace

Win32SerialLink::~Win32SerialLink()
{
    close();
}

QString Win32SerialLink::win32Path(const QString &device)
{
    return device.startsWith(QLatin1String("\\\\.\\")) ? device
                                                       : QStringLiteral("\\\\.\\") + device;
}

bool Win32SerialLink::open(const QString &device, const LineSettings &settings, QString *error)
{
    close();
    const auto fail = [&](const QString &reason) {
        if (m_handle)
            CloseHandle(HANDLE(m_handle));
        m_handle = nullptr;
        if (error)
            *error =
                Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device, reason);
        return false;
    };
    // Nothing is read from the display, but the port's state (GetCommState) may only be
    // read through a handle that can read.
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(win32Path(device).utf16()),
                    GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return fail(
            code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION
                ? Reason::text(QT_TRANSLATE_NOOP("Reason", "it is in use by another program."))
                : systemReason(code));
    }
    m_handle = handle;

    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return fail(systemReason(GetLastError()));
    dcb.BaudRate = DWORD(settings.baudRate);
    dcb.ByteSize = BYTE(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = stopBitsOf(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != LineSettings::Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb))
        return fail(systemReason(GetLastError()));

    // A write may take its line time and half a second more.
    COMMTIMEOUTS timeouts = {};
    timeouts.WriteTotalTimeoutMultiplier =
        DWORD(std::ceil(settings.bitsPerCharacter() * 1000.0 / settings.baudRate));
    timeouts.WriteTotalTimeoutConstant = 500;
    if (!SetCommTimeouts(handle, &timeouts))
        return fail(systemReason(GetLastError()));
    m_device = device;
    return true;
}

bool Win32SerialLink::write(const QByteArray &bytes, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not write to %1: %2"),
                                  m_device, reason);
        return false;
    };
    if (!m_handle)
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "the port is not open")));
    DWORD written = 0;
    if (!WriteFile(HANDLE(m_handle), bytes.constData(), DWORD(bytes.size()), &written, nullptr))
        return fail(systemReason(GetLastError()));
    if (written != DWORD(bytes.size()))
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "the bytes were not taken in time")));
    // Returns once the driver has sent them.
    if (!FlushFileBuffers(HANDLE(m_handle)))
        return fail(systemReason(GetLastError()));
    return true;
}

void Win32SerialLink::close()
{
    if (!m_handle)
        return;
    CloseHandle(HANDLE(m_handle));
    m_handle = nullptr;
}
