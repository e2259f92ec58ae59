#pragma once

#include "core/FrameWriter.h"
#include "core/MainView.h"
#include "core/Settings.h"
#include "ui/frmSetting.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

class Clock;
class DeviceWatch;
class ClockSource;
class MessageBoxes;
class QLabel;
class QLocale;
class QMenu;
class QPushButton;
class QTimer;
class RunOnWSU;
class SerialLink;
class ServiceChannel;
class ServiceFace;
class SyncControl;
class Synchroniser;
class ThreadScheduling;
class modSysTray;

/// What the main window works with, handed in by main() or a test.
struct WindowParts
{
    SerialLink &link;
    const Clock &clock;
    RunOnWSU &runAtLogin;
    SettingsStore &settingsStore;
    MessageBoxes &messageBoxes;
    /// The serial ports the system reports, for the settings dialog's list.
    std::function<QList<PortChoice>()> availablePorts;
    /// Whether the desktop has a notification area; empty: the desktop is asked.
    std::function<bool()> trayAvailable = {};
    FrameWriter::Threading threading = FrameWriter::Threading::OwnThread;
    /// Where the system tells whether the PC clock is synchronised; null: nowhere.
    const ClockSource *clockSource = nullptr;
    /// Where the frame writer asks for real-time priority; null: it does not ask.
    ThreadScheduling *scheduling = nullptr;
    /// Where the port keeper watches for a device that went away; null: it does not watch.
    DeviceWatch *deviceWatch = nullptr;
    /// The line to a service that runs for the settings file: the window then shows the
    /// service and asks it for frames instead of writing to the port itself.
    ServiceChannel *service = nullptr;
};

/// The main window: the running clock, the status line and "SYNC NOW". A thin shell that
/// forwards its events to the synchronisation core and shows what the core tells it. Minimised, it
/// hides behind its notification icon where the desktop has a notification area.
class frmMain : public QMainWindow, public MainView
{
    Q_OBJECT
public:
    explicit frmMain(const WindowParts &parts, QWidget *parent = nullptr);
    ~frmMain() override;

    /// The window's load step: the program's start-up. Reads the settings and starts the
    /// core with them. Returns false when the settings file stops the program (the user
    /// has been told); the caller then ends it.
    bool load();

    /// The synchronisation of the window's own port; only when it shows no service.
    Synchroniser &core() const { return *m_core; }
    /// The running service it shows, or nullptr.
    ServiceFace *face() const { return m_face; }
    /// The settings the program runs with.
    const Settings &settings() const { return m_settings; }
    /// Whether the program was registered to run at login when start-up's frame went out.
    bool registeredAtStartUp() const { return m_registeredAtStartUp; }
    modSysTray &tray() const { return *m_tray; }
    /// The settings dialog while it is loaded, else nullptr.
    frmSetting *settingsDialog() const { return m_frmSetting; }

    /// The click of "Setting": loads the settings dialog unless it is loaded, and shows it.
    void mnuSettingClick();
    /// Restore from the notification icon or its Restore item.
    void restore();
    /// Ends the program at once, as a log-out or a service manager asks: a message box
    /// waiting for an answer is closed unanswered, then the window as Exit closes it.
    void endNow();

    // MainView
    void showClock(const QTime &time) override;
    void showSynced(const QDateTime &second) override;
    void showPortNotOpen(const QString &reason) override;
    void showPortLent() override;
    void startUpSynced() override;
    void showPcClockState(const QDateTime &unsynchronisedSince) override;
    void showWriterScheduling(bool realTime) override;

    /// The date and time of a sync as the status line shows them: the locale's short date
    /// and its time with seconds ("12/7/26 10:03:07 AM" in en_US), so that two syncs
    /// within a minute can be told apart.
    static QString syncTimeText(const QDateTime &time, const QLocale &locale);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    SyncControl *makeControl();
    void buildControls();
    void buildMenus();
    /// Hides the window behind the notification icon.
    void hideToTray();
    /// Looks again for a notification area that was missing at start-up; when there is
    /// one, a minimised window hides behind its icon.
    void lookForTrayAgain();
    void setStatus(const QString &text, const QString &detail);
    /// Shows the status and the PC clock's state on the status line and the icon.
    void showStatus();

    WindowParts m_parts;
    Settings m_settings;
    Synchroniser *m_core = nullptr;
    ServiceFace *m_face = nullptr;
    SyncControl *m_control; ///< whichever of the two the window drives
    bool m_registeredAtStartUp = false;
    QString m_statusText;
    QString m_statusDetail;
    QString m_clockWarning; ///< the PC clock is not synchronised; empty while it is
    QString m_scheduling;   ///< at which priority the frames are written; empty: not known
    /// Whether the display was last reached; a change is told in a notification.
    enum class Reach { Unknown, Reached, NotReached } m_reach = Reach::Unknown;
    bool m_portNotOpen = false;  ///< the status line says the port is not open
    bool m_warningShown = false; ///< the icon wears its warning mark
    QLabel *m_lblClk = nullptr;
    QLabel *m_lblStamp = nullptr;
    QPushButton *m_cmdSync = nullptr;
    QMenu *m_popup = nullptr;
    modSysTray *m_tray = nullptr;
    QTimer *m_trayCheck = nullptr;
    int m_trayChecks = 0;
    bool m_waitingForTray = false; ///< start-up could not hide the window: no notification area
    QPointer<frmSetting> m_frmSetting;
};
