#pragma once

#include "core/MainView.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

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
    /// Tells the service manager `message` as it is: what a service of many displays
    /// says for all of them.
    void send(const QByteArray &message) { m_send(message); }

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

/// What the service manager hears of a service that serves many displays: "READY=1" once
/// every display's start-up has settled, and one status line for all ("3 displays, 2 with
/// their frames; hall: port not open: …", the first three without frames named), told
/// once for the changes of one turn of the event loop.
class ServiceStatusSummary
{
public:
    explicit ServiceStatusSummary(ServiceStatus &process);
    /// The status of display `name`, told here; the display counts as settling until it
    /// tells its state.
    std::unique_ptr<ServiceStatus> forDisplay(const QString &name);
    void remove(const QString &name);
    void reloading();
    /// Ends the start-up or a reload: READY=1 once every display has settled.
    void reloaded();

private:
    void tellSoon();
    void tell();

    ServiceStatus &m_process;
    QMap<QString, QByteArray> m_lines; ///< each display's status; empty while it settles
    bool m_ready = false;
    bool m_reloading = false;
    QTimer m_told;
};
