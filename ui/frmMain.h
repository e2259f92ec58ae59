#pragma once

#include "core/MainView.h"
#include "ui/frmSetting.h"

#include <QMainWindow>
#include <QPointer>

class Clock;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class RunOnWSU;
class SerialLink;
class Synchroniser;

class modSysTray;
struct modVariables;

/// The main window: the running clock, the status line and "SYNC NOW". A thin shell that
/// forwards its events to the synchronisation core. Minimised, it hides behind its
/// notification icon where the desktop has a notification area.
class frmMain : public QMainWindow, public MainView
{
    Q_OBJECT
public:
    frmMain(modVariables &settings, SerialLink &link, const Clock &clock, RunOnWSU &runAtLogin,
            QWidget *parent = nullptr);
    ~frmMain() override;

    /// The window's load step: the program's start-up. Returns false when the settings
    /// file stops the program (the user has been told); the caller then ends it.
    bool load();

    Synchroniser &core() const { return *m_core; }
    modSysTray &tray() const { return *m_tray; }
    /// The settings dialog while it is loaded, else nullptr.
    frmSetting *settingsDialog() const { return m_frmSetting; }

    /// The click of "Setting": loads the settings dialog unless it is loaded, and shows it.
    void mnuSettingClick();
    /// Restore from the notification icon or its Restore item.
    void restore();

    // MainView
    void setClockText(const QString &text) override;
    void setStatusText(const QString &text, const QString &detail) override;
    void minimise() override;
    void showSettingsError(const QString &message) override;

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    /// Hides the window behind the notification icon.
    void hideToTray();
    /// Looks again for a notification area that was missing at start-up; when there is
    /// one, a minimised window hides behind its icon.
    void lookForTrayAgain();

    modVariables &m_settings;
    RunOnWSU &m_runAtLogin;
    Synchroniser *m_core;
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
