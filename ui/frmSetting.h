#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class RunOnWSU;
class Synchroniser;
struct modVariables;

/// The settings dialog: port number, synchronisation interval and run-at-login. Works on
/// the shared settings directly. Loading it stops the schedule and closes the port;
/// closing it stores the port and the interval entry, then opens the port again and
/// synchronises. It deletes itself when closed.
class frmSetting : public QWidget
{
    Q_OBJECT
public:
    frmSetting(modVariables &settings, Synchroniser &core, RunOnWSU &runAtLogin,
               QWidget *parent = nullptr);

    /// The click of "SET": takes over the interval and the port, stores the interval.
    void cmdSetClick();
    /// The user's click of "Run On Windows Startup".
    void ChkRWSUClick();
    /// Closes the dialog, storing its settings, as the program ends: the port stays closed.
    void closeForExit();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void load();

    modVariables &m_settings;
    Synchroniser &m_core;
    RunOnWSU &m_runAtLogin;
    QComboBox *m_cboCOM = nullptr;
    QComboBox *m_cboSync = nullptr;
    QPushButton *m_cmdSet = nullptr;
    QCheckBox *m_chkRWSU = nullptr;
    bool m_resumeOnClose = true;
};
