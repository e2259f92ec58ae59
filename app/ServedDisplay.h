#pragma once

#include "core/Settings.h"
#include "platform/ProfileFile.h"

#include <QString>

#include <memory>

class Clock;
class ClockSource;
class FrameWriterThread;
class QObject;
class SerialLink;
class ServiceStatus;
class SingleInstance;
class Synchroniser;
class ThreadScheduling;
class ViewRecorder;

/// One display as the service serves it: its settings file and that file's single
/// instance, its port and its synchroniser, its status and the windows that watch it. The
/// service serves one; --displays serves one for each file of a folder.
class ServedDisplay
{
public:
    /// What the displays of one process share; it outlives them.
    struct Shared
    {
        const Clock &clock;
        const ClockSource &clockSource;
        ThreadScheduling &scheduling;
        FrameWriterThread *writerThread = nullptr; ///< null: a writer's thread of its own
    };
    enum class Start {
        Started,     ///< port open or being retried, the first frame on its way
        AlreadyRuns, ///< another instance holds the settings file (logged)
        BadSettings, ///< the settings file cannot be used (logged)
    };

    /// `status` is what the display tells; `isTheService`: it is the whole service's, which
    /// hears a reload as the service reloading.
    ServedDisplay(const QString &settingsPath, std::unique_ptr<ServiceStatus> status,
                  bool isTheService, const Shared &shared);
    /// Closes the port.
    ~ServedDisplay();
    ServedDisplay(const ServedDisplay &) = delete;
    ServedDisplay &operator=(const ServedDisplay &) = delete;

    /// Takes the settings file's instance name, reads the file and starts: the port, the
    /// schedule, the first frame. A window's "sync" and "reload" are taken from now on.
    Start start();
    /// Reads the settings file again and applies it, as an administrator expects of a
    /// daemon; a file that cannot be used leaves the settings in use as they are. With
    /// `keepUnchanged`, settings that did not change keep the port open and only send a
    /// frame.
    void reload(const QString &why, bool keepUnchanged);
    Synchroniser &sync() const { return *m_sync; }

private:
    QString m_path;
    ProfileSettingsStore m_store;
    const Shared m_shared;
    const bool m_isTheService;
    std::unique_ptr<ServiceStatus> m_status;
    std::unique_ptr<SerialLink> m_link;
    std::unique_ptr<ViewRecorder> m_view;
    QObject *m_root; ///< the instance, the synchroniser and the device watch; names the display in
                     ///< the log
    SingleInstance *m_instance;
    Synchroniser *m_sync = nullptr;
    Settings m_settings; ///< in use
};
