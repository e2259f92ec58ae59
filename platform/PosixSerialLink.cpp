#include "platform/PosixSerialLink.h"

#include "core/Log.h"
#include "core/Reason.h"
#include "platform/SystemText.h"
#include "platform/WriteWithoutWaiting.h"

#include "core/Settings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

/// The termios speed of `baud`, or B0 for a rate the system has no constant for.
speed_t speedOf(qint32 baud)
{
    static const struct
    {
        qint32 baud;
        speed_t speed;
    } kSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},
#ifdef B460800
        {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
    };
    for (const auto &entry : kSpeeds) {
        if (entry.baud == baud)
            return entry.speed;
    }
    return B0;
}

/// The process that holds an flock() on the device node `st` describes, from /proc/locks,
/// which every user may read; 0 when the system does not say.
qint64 lockHolder(const struct stat &st)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    // 1: FLOCK  ADVISORY  WRITE 1234 00:05:3 0 EOF
    const QByteArray inode = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                             QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                             QByteArray::number(qulonglong(st.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields.at(1) == "FLOCK" && fields.at(5) == inode)
            return fields.at(4).toLongLong();
    }
    return 0;
}

/// Unix 98 pty slaves (/dev/pts/N) have the majors 136 to 143.
bool isPtySlave(dev_t device)
{
    return major(device) >= 136 && major(device) <= 143;
}

/// Why the terminal `device` is no serial line to write frames to; empty when it may be.
/// The numbers are Linux's: 5,0 /dev/tty, 5,1 /dev/console, 5,2 /dev/ptmx, 4,0-63 the
/// virtual consoles.
QString notASerialLine(dev_t device)
{
    const unsigned int maj = major(device);
    const unsigned int min = minor(device);
    if (maj == 5 || (maj == 4 && min < 64))
        return Reason::text(
            QT_TRANSLATE_NOOP("Reason", "it is a terminal or console, not a serial line"));
    // A terminal some session uses: the controlling terminal of a login or a shell. Each
    // process says which it has in field 7 of /proc/PID/stat.
    const quint64 encoded = (min & 0xff) | (quint64(maj) << 8) | (quint64(min & ~0xffu) << 12);
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : processes) {
        if (!pid.at(0).isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.read(1024);
        const qsizetype nameEnd = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
        // after the name: state, ppid, pgrp, session, tty_nr
        if (nameEnd < 0 || fields.size() < 5 || fields.at(4).toULongLong() != encoded)
            continue;
        // The name is the process's own choice: its control characters are shown escaped,
        // never sent to a terminal that shows this reason.
        const qsizetype nameStart = line.indexOf('(');
        const QString name =
            QString::fromLocal8Bit(line.mid(nameStart + 1, nameEnd - nameStart - 1));
        return Reason::text(
            QT_TRANSLATE_NOOP("Reason",
                              "it is the terminal of process %1 (%2), not a free serial line"),
            pid, SettingsFile::printable(name));
    }
    return {};
}

/// Why `device` may not be opened, with what to do: a port its group may use is opened
/// by joining that group, which takes effect at the next log-in.
QString permissionDenied(const QString &device, int error)
{
    QString reason = systemErrorText(error);
    struct stat st;
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !(st.st_mode & S_IWGRP) ||
        st.st_gid == 0)
        return reason;
    const group *owner = ::getgrgid(st.st_gid);
    if (!owner)
        return reason;
    return Reason::text(
        QT_TRANSLATE_NOOP("Reason", "%1. Only members of the group \"%2\" may use it: add your "
                                    "user to that group (sudo adduser $USER %2) and log in again."),
        reason, SettingsFile::printable(QString::fromLocal8Bit(owner->gr_name)));
}

QString inUse(const QString &device, qint64 holder)
{
    return holder > 0
               ? Reason::text(QT_TRANSLATE_NOOP(
                                  "Reason", "Could not open %1: it is in use by another program "
                                            "(process %2)."),
                              device, holder)
               : Reason::text(QT_TRANSLATE_NOOP(
                                  "Reason", "Could not open %1: it is in use by another program."),
                              device);
}

} // namespace

const PosixSerialLink::Io &PosixSerialLink::systemIo()
{
    static const Io io{::write, ::poll};
    return io;
}

PosixSerialLink::~PosixSerialLink()
{
    close();
}

bool PosixSerialLink::open(const QString &device, const LineSettings &settings, QString *error)
{
    close();
    const auto fail = [&](const QString &message) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        if (error)
            *error = message;
        return false;
    };
    // Known before opening: opening a console may already change it.
    struct stat st;
    dev_t checked = 0;
    if (::stat(QFile::encodeName(device).constData(), &st) == 0 && S_ISCHR(st.st_mode)) {
        if (const QString why = notASerialLine(st.st_rdev); !why.isEmpty())
            return fail(
                Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2."), device, why));
        checked = st.st_rdev;
    }
    m_fd =
        ::open(QFile::encodeName(device).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        // Another program set TIOCEXCL: only root may open the device then. Its lock
        // names it, to any user.
        if (errno == EBUSY)
            return fail(inUse(device, checked != 0 ? lockHolder(st) : 0));
        if (errno == EACCES)
            return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device,
                                     permissionDenied(device, errno)));
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device,
                                 systemErrorText(errno)));
    }
    if (!::isatty(m_fd))
        return fail(Reason::text(
            QT_TRANSLATE_NOOP("Reason", "Could not open %1: it is not a serial port."), device));
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int saved = errno;
        return fail(saved == EWOULDBLOCK
                        ? inUse(device, ::fstat(m_fd, &st) == 0 ? lockHolder(st) : 0)
                        : Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device,
                                       systemErrorText(saved)));
    }
    // What was opened, which a link may have changed since it was looked at.
    if (::fstat(m_fd, &st) != 0)
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device,
                                 systemErrorText(errno)));
    if (st.st_rdev != checked) {
        if (const QString why = notASerialLine(st.st_rdev); !why.isEmpty())
            return fail(
                Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2."), device, why));
    }
    // Exclusive mode keeps out programs that take no lock. It is a flag of the tty, not of
    // the descriptor: a real port's tty goes with its last close, but a pty's lives on
    // with its master, so after a kill the flag would lock others out of a pty.
    if (!isPtySlave(st.st_rdev))
        ::ioctl(m_fd, TIOCEXCL); // refused on some drivers: the lock still holds the port

    const speed_t speed = speedOf(settings.baudRate);
    if (speed == B0)
        return fail(Reason::text(
            QT_TRANSLATE_NOOP("Reason", "Could not open %1: the port has no baud rate %2."), device,
            settings.baudRate));
    if (settings.stopBits == LineSettings::StopBits::OneAndHalf)
        return fail(Reason::text(
            QT_TRANSLATE_NOOP("Reason", "Could not open %1: the port has no 1.5 stop bits."),
            device));
    struct termios tio;
    if (::tcgetattr(m_fd, &tio) != 0)
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device,
                                 systemErrorText(errno)));
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS | CMSPAR);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (settings.dataBits) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    if (settings.stopBits == LineSettings::StopBits::Two)
        tio.c_cflag |= CSTOPB;
    switch (settings.parity) {
    case LineSettings::Parity::Even:
        tio.c_cflag |= PARENB;
        break;
    case LineSettings::Parity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case LineSettings::Parity::Mark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case LineSettings::Parity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    case LineSettings::Parity::None:
        break;
    }
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (::cfsetospeed(&tio, speed) != 0 || ::cfsetispeed(&tio, speed) != 0 ||
        ::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2"), device,
                                 systemErrorText(errno)));
    m_device = device;
    m_settings = settings;
    watchForHangUp();
    return true;
}

void PosixSerialLink::setHangUpHandler(std::function<void(const QString &)> onHangUp)
{
    m_onHangUp = std::move(onHangUp);
}

void PosixSerialLink::watchForHangUp()
{
    // Nothing is ever read: the descriptor turns "readable" only when it hangs up or fails.
    m_hangUpNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    LogScope::tag(m_hangUpNotifier);
    QObject::connect(m_hangUpNotifier, &QSocketNotifier::activated, m_hangUpNotifier, [this] {
        pollfd state{m_fd, POLLOUT, 0};
        if (::poll(&state, 1, 0) < 0 || !(state.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // The display sends nothing; whatever else arrives is dropped, or the notifier
            // would fire for it again and again.
            ::tcflush(m_fd, TCIFLUSH);
            return;
        }
        m_hangUpNotifier->setEnabled(false);
        if (m_onHangUp)
            m_onHangUp(Reason::text(
                QT_TRANSLATE_NOOP("Reason", "%1 hung up (the device went away)."), m_device));
    });
}

bool PosixSerialLink::write(const QByteArray &bytes, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not write to %1: %2"),
                                  m_device, reason);
        return false;
    };
    if (m_fd < 0)
        return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "the port is not open")));
    // The bytes' line time and a generous margin for the driver.
    const double seconds = bytes.size() * m_settings.bitsPerCharacter() / m_settings.baudRate;
    const QDeadlineTimer deadline(500 + qint64(seconds * 1000.0));
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = m_io.write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return fail(systemErrorText(errno));
        pollfd writable{m_fd, POLLOUT, 0};
        const int ready = m_io.poll(&writable, 1, int(deadline.remainingTime()));
        if (ready == 0 || deadline.hasExpired())
            return fail(
                Reason::text(QT_TRANSLATE_NOOP("Reason", "the bytes were not taken within %1 ms"),
                             500 + qint64(seconds * 1000.0)));
        if (ready < 0 && errno != EINTR)
            return fail(systemErrorText(errno));
        if (writable.revents & (POLLHUP | POLLERR | POLLNVAL))
            return fail(Reason::text(QT_TRANSLATE_NOOP("Reason", "the device hung up")));
    }
    return true;
}

SerialLink::Started PosixSerialLink::startWrite(const QByteArray &bytes, QString *error)
{
    if (m_fd < 0)
        return write(bytes, error) ? Started::Done : Started::Failed;
    const Started started =
        writeWithoutWaiting(bytes, &m_rest, [this](const char *data, size_t size) {
            return m_io.write(m_fd, data, size);
        });
    if (started == Started::Failed && error)
        *error = Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not write to %1: %2"), m_device,
                              systemErrorText(errno));
    return started;
}

bool PosixSerialLink::finishWrite(QString *error)
{
    return write(std::exchange(m_rest, {}), error);
}

void PosixSerialLink::close()
{
    if (m_fd < 0)
        return;
    if (m_hangUpNotifier) {
        // It may be in the middle of telling of the hang-up.
        m_hangUpNotifier->setEnabled(false);
        m_hangUpNotifier->deleteLater();
        m_hangUpNotifier = nullptr;
    }
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd); // drops the lock
    m_fd = -1;
}
