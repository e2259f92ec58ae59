#pragma once

#include "core/Settings.h"

#include <QObject>
#include <QString>

class Clock;
class DeviceWatch;
class QTimer;
class SerialLink;

/// Keeps the serial port: opens it with the settings' port and line settings, knows why it
/// is not open, and notices when the device hangs up or comes back.
class PortKeeper : public QObject
{
    Q_OBJECT
public:
    /// How often a port that is wanted but not open is tried again, in seconds.
    static constexpr int kRetrySeconds = 10;
    /// A network port that is away, and a device that is there but refused its open (its
    /// driver still binding), are tried again after a tenth of the time since the port
    /// went, within these bounds: a restarted device server or a replugged adapter is found
    /// within a second, one that stays away is asked seldom. The time away goes on while
    /// a network port drops each connection within kSoonRetryMaxMs of making it.
    static constexpr qint64 kSoonRetryMinMs = 300;
    static constexpr qint64 kSoonRetryMaxMs = 5000;

    PortKeeper(SerialLink &link, const Clock &clock, QObject *parent = nullptr);

    /// The port and line settings the next open uses.
    void setSettings(const Settings &settings);
    /// Where the port keeper watches for a device that went away to come back; null: it
    /// does not watch, and the periodic retry finds it. `watch` outlives the keeper.
    void setDeviceWatch(DeviceWatch *watch);
    /// Opens the port. On failure the reason is kept and the device watched for.
    bool open();
    bool isOpen() const;
    /// Closes the port for `reason` (empty: closed on purpose) and watches for the device.
    void closeFor(const QString &reason);
    /// Why the port is not open; empty when it is.
    QString reason() const { return m_reason; }
    /// The time one frame takes on the line with the settings the port was opened with.
    qint64 frameLineTimeNs() const { return m_frameLineTimeNs; }

    /// Whether the port is to be open: start-up got as far as opening it and the program
    /// does not end.
    void setWanted(bool wanted);
    /// The settings dialog has the port while it is open: it stays closed until taken back.
    void lend();
    void takeBack();
    bool isLent() const { return m_lent; }
    /// True when the port may be opened now: it is wanted and not lent.
    bool mayOpen() const { return m_wanted && !m_lent; }
    /// True when a port that may be opened is closed and was last tried long enough ago.
    bool dueForRetry() const;
    /// The timer of the soon tries; running while one is planned.
    const QTimer *soonRetry() const { return m_soonRetry; }

signals:
    /// The open device hung up: the port is to be closed for `reason`.
    void hungUp(const QString &reason);
    /// The device of a port that may be opened appeared again, or the port is to be tried
    /// again soon (a network port that is away, a device that refused its open).
    void deviceReturned();

private:
    void watchForDevice(const QString &device);
    /// The port may be back (`news` says how, for the log): it is to be tried again.
    void mayBeBack(const QString &news);
    /// Plans the next soon try of the port; stops the tries when `due` is false.
    void planSoonRetry(bool due);
    /// Logs `what` and `reason` unless `reason` is the one told last: a port that stays
    /// away, or a server that drops every connection, is told of once until its reason
    /// changes.
    void warnOnce(const QString &what, const QString &reason);

    SerialLink &m_link;
    const Clock &m_clock;
    Settings m_settings;
    QString m_reason;
    QString m_device; ///< the device last opened or tried
    qint64 m_frameLineTimeNs = 0;
    qint64 m_lastAttemptNs = 0; ///< monotonic time the port was last tried
    bool m_wanted = false;
    bool m_lent = false;
    DeviceWatch *m_deviceWatch = nullptr;
    QTimer *m_soonRetry;
    qint64 m_awaySinceNs = -1; ///< monotonic time the first soon try was planned; -1: none
    qint64 m_openedNs = 0;     ///< monotonic time the port was last opened
    bool m_dropping = false;   ///< a network port's connection ended soon after it was made
    QString m_warned;          ///< the reason told last
};
