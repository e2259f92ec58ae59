#include "core/PortKeeper.h"

#include "core/Clock.h"
#include "core/LineSettings.h"
#include "core/Log.h"
#include "core/PortNames.h"
#include "core/SerialLink.h"
#include "core/TimeFrame.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>

PortKeeper::PortKeeper(SerialLink &link, const Clock &clock, QObject *parent)
    : QObject(parent), m_link(link), m_clock(clock), m_deviceWatch(new QFileSystemWatcher(this)),
      m_soonRetry(new QTimer(this))
{
    m_link.setHangUpHandler([this](const QString &reason) {
        if (m_link.isOpen())
            emit hungUp(reason);
    });
    m_link.setReadyHandler([this] { mayBeBack(QStringLiteral("answered")); });
    connect(m_deviceWatch, &QFileSystemWatcher::directoryChanged, this,
            &PortKeeper::deviceFolderChanged);
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

void PortKeeper::setSettings(const Settings &settings)
{
    m_settings = settings;
}

bool PortKeeper::open()
{
    m_lastAttemptNs = m_clock.monotonicNs();
    const QString lastReason = m_reason;
    LineSettings line;
    QString lineError;
    const std::optional<QString> device = PortNames::deviceFor(m_settings.commPort);
    if (!LineSettings::parse(m_settings.lineSettings, &line, &lineError)) {
        m_reason = QStringLiteral("The port cannot be opened: %1.").arg(lineError);
    } else if (!device) {
        m_reason = PortNames::whyNoPort(m_settings.commPort);
    } else if (device->isEmpty()) {
        m_reason =
            QStringLiteral("No serial port has the number %1.").arg(m_settings.commPort.trimmed());
    } else if (m_device = *device; m_link.open(*device, line, &m_reason)) {
        qCInfo(lcSync).noquote() << "port open:" << *device << m_settings.lineSettings;
        m_reason.clear();
        watchForDevice(QString());
        planSoonRetry(false);
        m_frameLineTimeNs = line.lineTimeNs(TimeFrame(QTime(0, 0)).size());
        return true;
    }
    // Told once, not at every retry while the port stays away.
    if (m_reason != lastReason)
        qCWarning(lcSync).noquote() << "open failed:" << m_reason;
    watchForDevice(m_device);
    // A device that is there and still refused (ENXIO or EIO while its driver binds) may
    // see no further event in its folder: a /dev/serial/by-id link is made once.
    planSoonRetry(PortNames::networkPort(m_device) || QFileInfo::exists(m_device));
    return false;
}

bool PortKeeper::isOpen() const
{
    return m_link.isOpen();
}

void PortKeeper::closeFor(const QString &reason)
{
    if (m_link.isOpen()) {
        if (!reason.isEmpty())
            qCWarning(lcSync).noquote() << "port closed:" << reason;
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

namespace {

/// The folder `device` appears in (/dev, /dev/serial/by-id, the folder of a link), or the
/// nearest one above it that exists; empty for none.
QString nearestFolder(const QString &device)
{
    // A port not named by a path (a network port, a Windows COM port) has none.
    if (!QFileInfo(device).isAbsolute())
        return QString();
    for (QFileInfo folder(QFileInfo(device).absolutePath()); !folder.filePath().isEmpty();
         folder = QFileInfo(folder.absolutePath())) {
        if (folder.isDir())
            return folder.filePath();
        if (folder.isRoot())
            break;
    }
    return QString();
}

} // namespace

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

void PortKeeper::watchForDevice(const QString &device)
{
    // Folders on the way come and go with the device (udev removes /dev/serial with the
    // last adapter and makes it again with the next): the watch follows the path down as
    // each appears. A folder made before its parent's watch saw it is found by looking
    // again once the watch is set.
    for (int depth = 0; depth < 32; ++depth) {
        const QString folder = nearestFolder(device);
        const QStringList watched = m_deviceWatch->directories();
        if (watched == QStringList{folder} || (folder.isEmpty() && watched.isEmpty()))
            return; // kept as it is: an event between a removal and an addition is lost
        if (!watched.isEmpty())
            m_deviceWatch->removePaths(watched);
        if (folder.isEmpty())
            return;
        // A folder that went between the look and the watch (udev removing it with the
        // device) leaves the one above it to watch; one that stays and cannot be watched
        // (the system's limit of watches) leaves the periodic retry.
        if (!m_deviceWatch->addPath(folder)) {
            qCDebug(lcSync).noquote() << "cannot watch" << folder;
            if (QFileInfo(folder).isDir())
                return;
        }
    }
}

void PortKeeper::deviceFolderChanged()
{
    if (m_link.isOpen() || !mayOpen() || m_device.isEmpty())
        return;
    watchForDevice(m_device);
    if (QFileInfo::exists(m_device))
        mayBeBack(QStringLiteral("appeared"));
}
