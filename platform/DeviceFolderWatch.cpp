#include "platform/DeviceFolderWatch.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QPointer>

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

/// One system watcher for the ports of every display, each folder watched once for all
/// who watch it: a user gets some hundred of the system's watchers (inotify instances) in
/// all, and a service for a hundred displays would take them. The watches live on the
/// main thread.
struct SharedWatcher
{
    QPointer<QFileSystemWatcher> watcher;
    QHash<QString, int> uses;
};

SharedWatcher &shared()
{
    static SharedWatcher *const instance = new SharedWatcher; // kept to the program's end
    if (!instance->watcher) {
        instance->watcher = new QFileSystemWatcher(QCoreApplication::instance());
        instance->uses.clear();
    }
    return *instance;
}

} // namespace

DeviceFolderWatch::DeviceFolderWatch(QObject *parent) : QObject(parent)
{
    connect(shared().watcher, &QFileSystemWatcher::directoryChanged, this,
            [this](const QString &folder) {
                if (folder == m_folder)
                    folderChanged();
            });
}

DeviceFolderWatch::~DeviceFolderWatch()
{
    release();
}

bool DeviceFolderWatch::take(const QString &folder)
{
    SharedWatcher &watches = shared();
    if (watches.uses.value(folder) == 0 && !watches.watcher->addPath(folder))
        return false;
    ++watches.uses[folder];
    m_folder = folder;
    return true;
}

void DeviceFolderWatch::release()
{
    if (m_folder.isEmpty())
        return;
    SharedWatcher &watches = shared();
    if (--watches.uses[m_folder] <= 0) {
        watches.uses.remove(m_folder);
        watches.watcher->removePath(m_folder);
    }
    m_folder.clear();
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
        if (folder == m_folder)
            return; // kept as it is: an event between a removal and an addition is lost
        release();
        if (folder.isEmpty())
            return;
        // A folder that went between the look and the watch (udev removing it with the
        // device) leaves the one above it to watch; one that stays and cannot be watched
        // (the system's limit of watches) leaves the port keeper's periodic retry.
        if (!take(folder)) {
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
