#pragma once

#include "core/SerialLink.h"

#include <poll.h>
#include <sys/types.h>

class QSocketNotifier;

/// The serial port on Linux and other Unix systems, over termios, opened write-only.
///
/// The port is held with flock() on the open device and TIOCEXCL: the kernel drops both
/// with the process, however it ends, so a killed or crashed instance never leaves behind
/// anything that stops the next user's (QSerialPort's lock files in /run/lock do, and
/// another user cannot remove them). Two names of one device (a link and /dev/pts/N) are
/// one port: the lock is on the device itself.
class PosixSerialLink : public SerialLink
{
public:
    /// The system calls a write makes, for tests that make them misbehave.
    struct Io
    {
        ssize_t (*write)(int fd, const void *data, size_t size);
        int (*poll)(pollfd *fds, nfds_t count, int timeoutMs);
    };
    /// The real calls.
    static const Io &systemIo();

    explicit PosixSerialLink(const Io &io = systemIo()) : m_io(io) {}
    ~PosixSerialLink() override;

    /// Fails with "... is in use by another program (process N)" when another holds it,
    /// and refuses a terminal that is no free serial line: the controlling terminal, the
    /// console, a virtual console, or any terminal that is a session's own (a login's or
    /// a shell's), into which frames would go as garbage.
    bool open(const QString &device, const LineSettings &settings, QString *error) override;
    bool isOpen() const override { return m_fd >= 0; }
    /// Returns once the driver has taken every byte (at most the bytes' line time and half
    /// a second more).
    bool write(const QByteArray &bytes, QString *error) override;
    Started startWrite(const QByteArray &bytes, QString *error) override;
    bool finishWrite(QString *error) override;
    void close() override;
    /// A hang-up is seen as the event loop polls the open descriptor.
    void setHangUpHandler(std::function<void(const QString &reason)> onHangUp) override;

    /// The descriptor of the open port, or -1.
    int descriptor() const { return m_fd; }

private:
    void watchForHangUp();

    const Io &m_io;
    int m_fd = -1;
    QSocketNotifier *m_hangUpNotifier = nullptr;
    std::function<void(const QString &)> m_onHangUp;
    QString m_device;
    LineSettings m_settings;
    QByteArray m_rest; ///< what startWrite() left for finishWrite()
};
