#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTime>
#include <functional>

class Clock;
class QLocale;
class MainView;
class QFileSystemWatcher;
class QTimer;
class SerialLink;
struct modVariables;

/// The synchronisation core behind the main window: start-up and shutdown, the routine
/// that sends the time frame, and the timers that keep the clock text current,
/// synchronise every SyncInterval minutes, notice jumps of the PC clock and reconnect a
/// port that went away.
///
/// Frames are placed on the second: a sync waits for the next whole second and writes
/// the frame so that its last byte leaves the port as that second begins, carrying it.
class Synchroniser : public QObject
{
    Q_OBJECT
public:
    enum class StartUpResult {
        Started,     ///< port open, first frame on its way; the window minimises once it is written
        PortNotOpen, ///< the open failed; the window stays on screen
        SettingsError, ///< the settings file stops the program; the view was told
    };

    /// How long the write may start late before the frame waits for the next second; and
    /// how far the PC clock may be set while a frame waits before its slot is planned again.
    static constexpr qint64 kLateLimitNs = 50'000'000;
    /// How often a closed port is tried again, in seconds.
    static constexpr int kReconnectSeconds = 10;

    Synchroniser(modVariables &settings, SerialLink &link, const Clock &clock, MainView &view,
                 QObject *parent = nullptr);

    /// The load step of the main window: reads the settings file, opens the port, sends
    /// the first frame and, once it is written, minimises the window. Starts the timers
    /// unless the settings file is unusable, in which case nothing is opened, sent or
    /// written.
    StartUpResult startUp();

    /// Asks for a frame: when the port is open, one is written at the next slot (see
    /// nextSyncSlot()) and the status text reports it; otherwise the port is tried again
    /// and, failing that, the status text reads "Port Not Open". Requests made while one
    /// is waiting are written in the same slot, as identical frames.
    void SendTimePacket();

    /// Writes the frames that are due: the slot's timer calls it.
    void writeDueFrames();

    /// The click of "SYNC NOW".
    void cmdSyncClick();
    /// One tick of Timer1, just after the PC clock's second changes and half a second
    /// later: refresh the clock text, synchronise at once when the PC clock jumped, retry a
    /// closed port now and then.
    void Timer1Tick();
    /// One tick of Timer2: count a minute, synchronise when SyncInterval minutes are due.
    void Timer2Tick();

    /// Closes the port and stops the timers.
    void shutDown();

    /// While the settings dialog is open: the schedule stops, the port is closed, and the
    /// status line says so until the dialog is closed.
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

    /// The date and time of a sync as the status line shows them: the locale's short date
    /// and its time with seconds ("12/7/26 10:03:07 AM" in en_US), so that two syncs
    /// within a minute can be told apart.
    static QString syncTimeText(const QDateTime &time, const QLocale &locale);
    /// The text of the clock at `time`, "HH:MM:SS" on the 24-hour clock.
    static QString clockText(const QTime &time);

    QTimer *Timer1() const { return m_timer1; }
    QTimer *Timer2() const { return m_timer2; }
    /// The single-shot timer of the slot a frame waits for.
    QTimer *syncTimer() const { return m_syncTimer; }
    /// The second the waiting frames carry; invalid when none waits.
    QDateTime pendingSecond() const { return m_pendingFrames ? m_pendingSecond : QDateTime(); }
    /// Monotonic nanoseconds until the waiting frames are to be written.
    qint64 nsUntilWrite() const;

private:
    bool readSettings(QString *error);
    bool openPort();
    bool reopenPort();
    void reportPortNotOpen();
    /// The open device hung up: the port is closed and the user told at once.
    void portHungUp(const QString &reason);
    /// Watches the folder of the port's device, so that its return is noticed at once.
    void watchForDevice(const QString &device);
    void deviceFolderChanged();
    void armSlot();
    void armTimer1(const QDateTime &now);
    /// Records a reading of both clocks, taken together; returns how far the PC clock was
    /// stepped against the monotonic clock since the last one.
    qint64 noteClocks(qint64 wallNs, qint64 monoNs);

    modVariables &m_settings;
    SerialLink &m_link;
    const Clock &m_clock;
    MainView &m_view;
    QTimer *m_timer1;
    QTimer *m_timer2;
    QTimer *m_syncTimer;
    QString m_portError; ///< why the port is not open, shown as the status line's tooltip
    std::function<bool()> m_registrationCheck;
    bool m_registeredAtStartUp = false;

    qint64 m_lineTimeNs = 0;        ///< time of one frame on the line
    int m_pendingFrames = 0;        ///< frames waiting for the slot
    QDateTime m_pendingSecond;      ///< the second they carry
    qint64 m_writeAtNs = 0;         ///< monotonic time the write is to start
    qint64 m_plannedClockNs = 0;    ///< PC clock less monotonic clock when the slot was planned
    bool m_startUpFrame = false;    ///< the waiting frame is start-up's first
    bool m_suspended = false;       ///< the settings dialog has the port
    bool m_portWanted = false;      ///< the port is to be open: start-up got as far as opening it
    qint64 m_lastOpenAttemptNs = 0; ///< monotonic time the port was last tried
    qint64 m_lastTickLocalNs = 0;   ///< local wall time at the last Timer1 tick
    qint64 m_lastTickMonoNs = 0;    ///< monotonic time at the last Timer1 tick
    QString m_shownText;            ///< the clock text shown
    QString m_device;               ///< the device last opened or tried
    QFileSystemWatcher *m_deviceWatch; ///< the folder of a device that is not open
};
