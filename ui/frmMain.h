#pragma once

#include "core/MainView.h"

#include <QMainWindow>

class Clock;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class SerialLink;
class Synchroniser;
struct modVariables;

/// The main window: the running clock, the status line and "SYNC NOW". A thin shell that
/// forwards its events to the synchronisation core.
class frmMain : public QMainWindow, public MainView
{
    Q_OBJECT
public:
    frmMain(modVariables &settings, SerialLink &link, const Clock &clock,
            QWidget *parent = nullptr);
    ~frmMain() override;

    /// The window's load step: the program's start-up. Returns false when the settings
    /// file stops the program (the user has been told); the caller then ends it.
    bool load();

    Synchroniser &core() const { return *m_core; }
    QMenu *popupMenu() const { return m_popup; }

    // MainView
    void setClockText(const QString &text) override;
    void setStatusText(const QString &text, const QString &detail) override;
    void minimise() override;
    void showSettingsError(const QString &message) override;

signals:
    /// "Setting" was chosen from the menu bar.
    void settingsRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();

    Synchroniser *m_core;
    QLabel *m_lblClk = nullptr;
    QLabel *m_lblStamp = nullptr;
    QPushButton *m_cmdSync = nullptr;
    QMenu *m_popup = nullptr;
};
