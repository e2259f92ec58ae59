#include "platform/ServiceStatus.h"

#include <QTimer>

#ifdef ORVANTIDE_HAS_SYSTEMD
#include <systemd/sd-daemon.h>
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
#ifdef ORVANTIDE_HAS_SYSTEMD
    uint64_t watchdogUs = 0;
    if (sd_watchdog_enabled(0, &watchdogUs) <= 0)
        watchdogUs = 0;
    return std::make_unique<ServiceStatus>(
        [](const QByteArray &message) { sd_notify(0, message.constData()); }, qint64(watchdogUs));
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
    tell("last frame " + second.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() +
         " on " + m_port.toUtf8());
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
    m_clockWarning = unsynchronisedSince.isValid()
                         ? "; the PC clock is not synchronised to a time source since " +
                               unsynchronisedSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                   .toUtf8()
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
