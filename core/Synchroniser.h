#pragma once

#include <QObject>
#include <QString>
#include <QTime>
#include <functional>

class Clock;
class MainView;
class QTimer;
class SerialLink;
struct modVariables;

/// The synchronisation core behind the main window: start-up and shutdown, the routine
/// that sends the time frame, and the two timers that keep the clock text current and
/// synchronise every SyncInterval minutes.
class Synchroniser : public QObject
{
    Q_OBJECT
public:
    enum class StartUpResult {
        Synced,        ///< port open, first frame sent, window minimised
        PortNotOpen,   ///< the open or the first write failed; the window stays on screen
        SettingsError, ///< the settings file stops the program; the view was told
    };

    Synchroniser(modVariables &settings, SerialLink &link, const Clock &clock, MainView &view,
                 QObject *parent = nullptr);

    /// The load step of the main window: reads the settings file, opens the port, sends
    /// the first frame and minimises the window. Starts both timers unless the settings
    /// file is unusable, in which case nothing is opened, sent or written.
    StartUpResult startUp();

    /// Reads the time once, sends it as a TimeFrame when the port is open and reports the
    /// outcome in the status text. A failed write closes the port. Returns true when the
    /// frame was written.
    bool SendTimePacket();

    /// The click of "SYNC NOW".
    void cmdSyncClick();
    /// One tick of Timer1: refresh the clock text.
    void Timer1Tick();
    /// One tick of Timer2: count a minute, synchronise when SyncInterval minutes are due.
    void Timer2Tick();

    /// Closes the port and stops the timers.
    void shutDown();

    /// While the settings dialog is open: the schedule stops and the port is closed.
    void suspend();
    /// After the settings dialog has closed: opens the port with the current settings,
    /// restarts the schedule and sends one frame, so the status line shows at once
    /// whether the new port works.
    void resume();

    /// Step of start-up that asks whether the program is registered to run at login; its
    /// answer is recorded, nothing else.
    void setRegistrationCheck(std::function<bool()> check)
    {
        m_registrationCheck = std::move(check);
    }
    bool registeredAtStartUp() const { return m_registeredAtStartUp; }

    /// The text of the clock at `time`, "HH:MM:SS" on the 24-hour clock.
    static QString clockText(const QTime &time);

    QTimer *Timer1() const { return m_timer1; }
    QTimer *Timer2() const { return m_timer2; }

private:
    bool readSettings(QString *error);
    bool openPort();
    void reportPortNotOpen();

    modVariables &m_settings;
    SerialLink &m_link;
    const Clock &m_clock;
    MainView &m_view;
    QTimer *m_timer1;
    QTimer *m_timer2;
    QString m_portError; ///< why the port is not open, shown as the status line's tooltip
    std::function<bool()> m_registrationCheck;
    bool m_registeredAtStartUp = false;
};
