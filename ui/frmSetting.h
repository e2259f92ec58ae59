#pragma once

#include "core/PortNames.h"
#include "core/Settings.h"

#include <QWidget>
#include <functional>

class DeviceWatch;
class MessageBoxes;
class QCheckBox;
class QComboBox;
class QPushButton;
class RunOnWSU;

/// The settings dialog: port number, synchronisation interval and run-at-login. It edits a
/// copy of the settings: "SET" takes the port and the interval into it and stores the
/// interval; closing stores the port and the interval entry and hands the copy back. It
/// deletes itself when closed.
class frmSetting : public QWidget
{
    Q_OBJECT
public:
    /// Stores the named fields of the settings; false with the reason when it could not.
    using Save =
        std::function<bool(const Settings &, const QList<SettingsKey> &keys, QString *error)>;

    /// `systemPorts`: the serial ports the system reports, offered after "1" to "6".
    frmSetting(const Settings &settings, Save save, RunOnWSU &runAtLogin, MessageBoxes &boxes,
               const QList<PortChoice> &systemPorts, QWidget *parent = nullptr);

    /// The settings as the dialog has them.
    const Settings &settings() const { return m_settings; }

    /// The click of "SET": takes over the interval and the port, stores the interval.
    void cmdSetClick();
    /// The user's click of "Run On Windows Startup".
    void ChkRWSUClick();
    /// Closes the dialog, storing its settings, as the program ends: the port stays closed.
    void closeForExit();
    /// Where SET learns whether a device is there now; null: it does not tell.
    void setDeviceWatch(const DeviceWatch *watch) { m_deviceWatch = watch; }

signals:
    /// The user closed the dialog: the program goes on with `settings`.
    void closedWith(const Settings &settings);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void load(const QList<PortChoice> &systemPorts);
    /// Gives each caption and box the room its text needs.
    void fitControls();

    Settings m_settings;
    Save m_save;
    RunOnWSU &m_runAtLogin;
    MessageBoxes &m_boxes;
    const DeviceWatch *m_deviceWatch = nullptr;
    QComboBox *m_cboCOM = nullptr;
    QComboBox *m_cboSync = nullptr;
    QPushButton *m_cmdSet = nullptr;
    QCheckBox *m_chkRWSU = nullptr;
    bool m_resumeOnClose = true;
};
