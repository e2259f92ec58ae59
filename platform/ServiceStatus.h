#pragma once

#include "core/MainView.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTimer;

/// What the service tells its service manager, in systemd's notify protocol: "READY=1"
/// once start-up has settled (the first frame written, or the port found not open);
/// "STATUS=" the state in one line ("last frame 10:03:07 on /dev/ttyUSB0", "port not
/// open: <reason>", with the PC clock's warning after it), which `systemctl status`
/// shows; "RELOADING=1" and "READY=1" around a reload; and "WATCHDOG=1" from the main
/// loop, so that a loop that hangs stops the pings and systemd restarts the service.
class ServiceStatus : public QObject, public MainView
{
    Q_OBJECT
public:
    /// Sends one notify message.
    using Send = std::function<void(const QByteArray &message)>;

    /// `watchdogUs`: the watchdog interval the service manager asks for; 0 for none. The
    /// pings go out twice in each interval.
    ServiceStatus(Send send, qint64 watchdogUs, QObject *parent = nullptr);
    /// To the service manager's notify socket, with the watchdog it asks for; one that
    /// sends nothing where there is no service manager to tell.
    static std::unique_ptr<ServiceStatus> forThisSystem();

    /// The port the settings name, as the status line names it.
    void setPort(const QString &port) { m_port = port; }
    void reloading();
    void reloaded();

    void showClock(const QTime &) override {}
    void showSynced(const QDateTime &second) override;
    void showPortNotOpen(const QString &reason) override;
    void showPortLent() override;
    void startUpSynced() override {}
    void showPcClockState(const QDateTime &unsynchronisedSince) override;

private:
    void tell(const QByteArray &state);

    Send m_send;
    QTimer *m_watchdog = nullptr;
    QString m_port;
    QByteArray m_state;
    QByteArray m_clockWarning;
    bool m_ready = false;
};
