#include "core/PortKeeper.h"

#include "core/Reason.h"

#include "core/Clock.h"
#include "core/DeviceWatch.h"
#include "core/LineSettings.h"
#include "core/Log.h"
#include "core/PortNames.h"
#include "core/SerialLink.h"
#include "core/TimeFrame.h"

#include <QTimer>

#include <algorithm>

PortKeeper::PortKeeper(SerialLink &link, const Clock &clock, QObject *parent)
    : QObject(parent), m_link(link), m_clock(clock), m_soonRetry(new QTimer(this))
{
    m_link.setHangUpHandler([this](const QString &reason) {
        if (m_link.isOpen())
            emit hungUp(reason);
    });
    // The outcome of a connection attempt that ended after open() returned.
    m_link.setReadyHandler([this] { mayBeBack(QString()); });
    m_soonRetry->setSingleShot(true);
    connect(m_soonRetry, &QTimer::timeout, this, [this] { mayBeBack(QString()); });
}

void PortKeeper::mayBeBack(const QString &news)
{
    if (m_link.isOpen() || !mayOpen() || m_device.isEmpty())
        return;
    if (!news.isEmpty())
        qCInfo(lcSync).noquote() << QStringLiteral("%1 %2: reconnecting").arg(m_device, news);
    emit deviceReturned();
}

void PortKeeper::setDeviceWatch(DeviceWatch *watch)
{
    if (m_deviceWatch)
        m_deviceWatch->setAppearedHandler({});
    m_deviceWatch = watch;
    if (watch)
        watch->setAppearedHandler([this] { mayBeBack(QStringLiteral("appeared")); });
}

void PortKeeper::setSettings(const Settings &settings)
{
    m_settings = settings;
}

bool PortKeeper::open()
{
    m_lastAttemptNs = m_clock.monotonicNs();
    LineSettings line;
    QString lineError;
    const std::optional<QString> device = PortNames::deviceFor(m_settings.commPort);
    if (!LineSettings::parse(m_settings.lineSettings, &line, &lineError)) {
        m_reason =
            Reason::text(QT_TRANSLATE_NOOP("Reason", "The port cannot be opened: %1."), lineError);
    } else if (!device) {
        m_reason = PortNames::whyNoPort(m_settings.commPort);
    } else if (device->isEmpty()) {
        m_reason = Reason::text(QT_TRANSLATE_NOOP("Reason", "No serial port has the number %1."),
                                m_settings.commPort.trimmed());
    } else if (m_device = *device; m_link.open(*device, line, &m_reason)) {
        // A network port that keeps dropping its connections is opened quietly: its drop
        // was told.
        if (!m_dropping)
            qCInfo(lcSync).noquote() << "port open:" << *device << m_settings.lineSettings;
        m_reason.clear();
        m_openedNs = m_lastAttemptNs;
        watchForDevice(QString());
        m_soonRetry->stop(); // the time away goes on until closeFor() sees what held
        m_frameLineTimeNs = line.lineTimeNs(TimeFrame(QTime(0, 0)).size());
        return true;
    }
    m_dropping = false;
    warnOnce(QStringLiteral("open failed:"), m_reason);
    watchForDevice(m_device);
    // A device that is there and still refused (ENXIO or EIO while its driver binds) may
    // see no further event in its folder: a /dev/serial/by-id link is made once.
    planSoonRetry(PortNames::networkPort(m_device) ||
                  (m_deviceWatch && m_deviceWatch->isPresent(m_device)));
    return false;
}

bool PortKeeper::isOpen() const
{
    return m_link.isOpen();
}

void PortKeeper::closeFor(const QString &reason)
{
    if (m_link.isOpen()) {
        // A network connection that held, and a device that goes (its folder tells when it
        // is back, as a replugged adapter), start afresh: their reasons are told again.
        const bool network = PortNames::networkPort(m_device).has_value();
        const bool held = m_clock.monotonicNs() - m_openedNs >= kSoonRetryMaxMs * 1'000'000;
        if (held || !network) {
            m_awaySinceNs = -1;
            m_warned.clear();
        }
        m_dropping = network && !held && !reason.isEmpty();
        if (!reason.isEmpty())
            warnOnce(QStringLiteral("port closed:"), reason);
        m_link.close();
    }
    m_reason = reason;
    watchForDevice(m_wanted ? m_device : QString());
    // A device that hung up goes from its folder, whose watch sees it come back.
    planSoonRetry(m_wanted && PortNames::networkPort(m_device));
}

void PortKeeper::setWanted(bool wanted)
{
    m_wanted = wanted;
    if (!wanted) {
        watchForDevice(QString());
        planSoonRetry(false);
    }
}

void PortKeeper::lend()
{
    m_lent = true;
    closeFor(QString());
}

void PortKeeper::takeBack()
{
    m_lent = false;
}

bool PortKeeper::dueForRetry() const
{
    return !m_link.isOpen() && mayOpen() &&
           m_clock.monotonicNs() - m_lastAttemptNs >= kRetrySeconds * 1'000'000'000LL;
}

void PortKeeper::planSoonRetry(bool due)
{
    if (!due) {
        m_awaySinceNs = -1;
        m_soonRetry->stop();
        return;
    }
    const qint64 now = m_clock.monotonicNs();
    if (m_awaySinceNs < 0)
        m_awaySinceNs = now;
    const qint64 awayMs = (now - m_awaySinceNs) / 1'000'000;
    m_soonRetry->start(int(std::clamp(awayMs / 10, kSoonRetryMinMs, kSoonRetryMaxMs)));
}

void PortKeeper::warnOnce(const QString &what, const QString &reason)
{
    if (reason == m_warned)
        return;
    m_warned = reason;
    qCWarning(lcSync).noquote() << what << reason;
}

void PortKeeper::watchForDevice(const QString &device)
{
    if (m_deviceWatch)
        m_deviceWatch->watch(device);
}
