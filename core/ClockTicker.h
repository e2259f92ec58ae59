#pragma once

#include <QObject>
#include <QTime>

class Clock;
class QTimer;

/// Follows the PC clock: tells of each new second just after it begins, and of each step
/// of the PC clock against the monotonic clock (set by hand or by a time server, a
/// daylight-saving change, a resume from sleep).
///
/// Its timer is armed at every tick for just after the next change of second and half a
/// second later: a repeating one-second timer drifts against the PC clock and now and then
/// skips or repeats a second.
class ClockTicker : public QObject
{
    Q_OBJECT
public:
    /// A step of the PC clock against the monotonic clock of this much or more is followed
    /// at once; a time server's slewing stays far below it (0.5 ms a second at the most).
    static constexpr qint64 kStepLimitNs = 50'000'000;
    /// The two clocks are read one after the other, and whoever steps the PC clock reads it
    /// first too: a step of exactly kStepLimitNs is seen up to this much short of it, and
    /// still counts.
    static constexpr qint64 kReadingAllowanceNs = 500'000;

    explicit ClockTicker(const Clock &clock, QObject *parent = nullptr);

    /// Tells of the current second, takes both clocks as the base for steps, and starts.
    void start();
    void stop();
    /// One tick of the timer.
    void tick();

    QTimer *timer() const { return m_timer; }

signals:
    void secondChanged(const QTime &time);
    /// The PC clock was stepped by `ns` since the last tick.
    void stepped(qint64 ns);
    /// Emitted at every tick, after the others: twice a second.
    void ticked();

private:
    void arm(const QDateTime &now);
    /// Records a reading of both clocks, taken together; returns how far the PC clock was
    /// stepped against the monotonic clock since the last one.
    qint64 noteClocks(qint64 wallNs, qint64 monoNs);

    const Clock &m_clock;
    QTimer *m_timer;
    QTime m_shown;
    qint64 m_lastLocalNs = 0; ///< local wall time at the last tick
    qint64 m_lastMonoNs = 0;  ///< monotonic time at the last tick
};
