#include "platform/ServiceStatus.h"

#ifdef Q_OS_WIN
#include "platform/WindowsService.h"
#endif

#include <QTimer>

#include <cstddef>

#ifdef Q_OS_LINUX
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

ServiceStatus::ServiceStatus(Send send, qint64 watchdogUs, QObject *parent)
    : QObject(parent), m_send(std::move(send))
{
    if (watchdogUs > 0) {
        m_watchdog = new QTimer(this);
        m_watchdog->setInterval(int(qMax<qint64>(1, watchdogUs / 2000)));
        connect(m_watchdog, &QTimer::timeout, this, [this] { m_send("WATCHDOG=1"); });
        m_watchdog->start();
    }
}

std::unique_ptr<ServiceStatus> ServiceStatus::forThisSystem()
{
#ifdef Q_OS_LINUX
    // sd_notify(3)'s protocol, which systemd keeps stable for programs that speak it
    // themselves: one datagram a message to the socket NOTIFY_SOCKET names ("@" for the
    // abstract namespace); the watchdog's interval in WATCHDOG_USEC, for the process
    // WATCHDOG_PID names if it names one. Spoken here rather than through libsystemd, whose
    // libraries would take a megabyte of the service's memory for one sendto().
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    auto address = std::make_shared<sockaddr_un>();
    address->sun_family = AF_UNIX;
    const bool named = (path.startsWith('/') || path.startsWith('@')) &&
                       path.size() < qsizetype(sizeof address->sun_path);
    const int fd = named ? ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0)
        return std::make_unique<ServiceStatus>([](const QByteArray &) {}, 0);
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    if (path.startsWith('@'))
        address->sun_path[0] = '\0';
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + path.size());
    const QByteArray watchdogPid = qgetenv("WATCHDOG_PID");
    const qint64 watchdogUs = watchdogPid.isEmpty() || watchdogPid.toLongLong() == ::getpid()
                                  ? qgetenv("WATCHDOG_USEC").toLongLong()
                                  : 0;
    auto status = std::make_unique<ServiceStatus>(
        [fd, address, length](const QByteArray &message) {
            ::sendto(fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr *>(address.get()), length);
        },
        watchdogUs);
    connect(status.get(), &QObject::destroyed, [fd] { ::close(fd); });
    return status;
#elif defined(Q_OS_WIN)
    // The service control manager hears that the service runs once start-up has settled;
    // nothing is told where the manager did not start the program.
    return std::make_unique<ServiceStatus>(
        [](const QByteArray &message) {
            if (message.startsWith("READY=1"))
                WindowsService::running();
        },
        0);
#else
    return std::make_unique<ServiceStatus>([](const QByteArray &) {}, 0);
#endif
}

void ServiceStatus::reloading()
{
    m_send("RELOADING=1\nSTATUS=reading the settings file again");
}

void ServiceStatus::reloaded()
{
    m_send("READY=1\nSTATUS=" + m_state + m_clockWarning);
}

void ServiceStatus::showSynced(const QDateTime &second)
{
    tell("last frame " + second.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + " on " +
         m_port.toUtf8());
}

void ServiceStatus::showPortNotOpen(const QString &reason)
{
    tell("port not open: " + (reason.isEmpty() ? m_port : reason).toUtf8());
}

void ServiceStatus::showPortLent()
{
    tell("port closed while the settings change");
}

void ServiceStatus::showPcClockState(const QDateTime &unsynchronisedSince)
{
    m_clockWarning =
        unsynchronisedSince.isValid()
            ? "; the PC clock is not synchronised to a time source since " +
                  unsynchronisedSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8()
            : QByteArray();
    if (!m_state.isEmpty())
        m_send("STATUS=" + m_state + m_clockWarning);
}

void ServiceStatus::tell(const QByteArray &state)
{
    QByteArray line = state;
    line.replace('\n', ' ');
    // Every frame would repeat the same words but the time: the line changes each time.
    m_state = line;
    m_send((m_ready ? QByteArray() : QByteArray("READY=1\n")) + "STATUS=" + m_state +
           m_clockWarning);
    m_ready = true;
}

ServiceStatusSummary::ServiceStatusSummary(ServiceStatus &process) : m_process(process)
{
    m_told.setSingleShot(true);
    m_told.setInterval(0);
    QObject::connect(&m_told, &QTimer::timeout, [this] { tell(); });
}

std::unique_ptr<ServiceStatus> ServiceStatusSummary::forDisplay(const QString &name)
{
    m_lines[name].clear();
    return std::make_unique<ServiceStatus>(
        [this, name](const QByteArray &message) {
            for (const QByteArray &line : message.split('\n'))
                if (line.startsWith("STATUS="))
                    m_lines[name] = line.mid(7);
            tellSoon();
        },
        0);
}

void ServiceStatusSummary::remove(const QString &name)
{
    m_lines.remove(name);
    tellSoon();
}

void ServiceStatusSummary::reloading()
{
    m_reloading = true;
    m_process.send("RELOADING=1\nSTATUS=reading the settings files again");
}

void ServiceStatusSummary::reloaded()
{
    m_reloading = false;
    m_ready = false; // a reload, as start-up, ends with READY=1
    tell();
}

void ServiceStatusSummary::tellSoon()
{
    if (!m_told.isActive())
        m_told.start();
}

void ServiceStatusSummary::tell()
{
    if (m_reloading)
        return;
    constexpr char kClock[] = "; the PC clock is not synchronised";
    constexpr int kNamed = 3;
    int sending = 0;
    int named = 0;
    bool settled = true;
    QByteArray others;
    QByteArray clockWarning;
    for (auto it = m_lines.cbegin(); it != m_lines.cend(); ++it) {
        QByteArray line = it.value();
        if (const qsizetype warning = line.indexOf(kClock); warning >= 0) {
            clockWarning = line.mid(warning);
            line.truncate(warning);
        }
        settled = settled && !line.isEmpty();
        if (line.startsWith("last frame ")) {
            ++sending;
        } else if (named < kNamed) {
            others += "; " + it.key().toUtf8() + ": " + (line.isEmpty() ? "starting" : line);
            ++named;
        }
    }
    if (const qsizetype unnamed = m_lines.size() - sending - named; unnamed > 0)
        others += "; " + QByteArray::number(unnamed) + " more without frames";
    const bool ready = settled && !m_ready;
    m_ready = m_ready || settled;
    m_process.send((ready ? QByteArray("READY=1\n") : QByteArray()) +
                   "STATUS=" + QByteArray::number(m_lines.size()) + " displays, " +
                   QByteArray::number(sending) + " with their frames" + others + clockWarning);
}
