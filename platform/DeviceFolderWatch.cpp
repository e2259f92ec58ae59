#include "platform/DeviceFolderWatch.h"

#include "core/Log.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace {

/// The folder `device` appears in (/dev, /dev/serial/by-id, the folder of a link), or the
/// nearest one above it that exists; empty for none.
QString nearestFolder(const QString &device)
{
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

DeviceFolderWatch::DeviceFolderWatch(QObject *parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this))
{
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &DeviceFolderWatch::folderChanged);
}

void DeviceFolderWatch::watch(const QString &device)
{
    m_device = device;
    follow();
}

bool DeviceFolderWatch::isPresent(const QString &device) const
{
    return QFileInfo(device).isAbsolute() && QFileInfo::exists(device);
}

void DeviceFolderWatch::setAppearedHandler(std::function<void()> onAppeared)
{
    m_onAppeared = std::move(onAppeared);
}

void DeviceFolderWatch::follow()
{
    // Folders on the way come and go with the device: the watch follows the path down as
    // each appears. A folder made before its parent's watch saw it is found by looking
    // again once the watch is set.
    for (int depth = 0; depth < 32; ++depth) {
        const QString folder = nearestFolder(m_device);
        const QStringList watched = m_watcher->directories();
        if (watched == QStringList{folder} || (folder.isEmpty() && watched.isEmpty()))
            return; // kept as it is: an event between a removal and an addition is lost
        if (!watched.isEmpty())
            m_watcher->removePaths(watched);
        if (folder.isEmpty())
            return;
        // A folder that went between the look and the watch (udev removing it with the
        // device) leaves the one above it to watch; one that stays and cannot be watched
        // (the system's limit of watches) leaves the port keeper's periodic retry.
        if (!m_watcher->addPath(folder)) {
            qCDebug(lcSync).noquote() << "cannot watch" << folder;
            if (QFileInfo(folder).isDir())
                return;
        }
    }
}

void DeviceFolderWatch::folderChanged()
{
    if (m_device.isEmpty())
        return;
    follow();
    if (QFileInfo::exists(m_device) && m_onAppeared)
        m_onAppeared();
}
