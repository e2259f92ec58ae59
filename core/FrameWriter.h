#pragma once

#include <QDateTime>
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <thread>

class Clock;
class SerialLink;
class ThreadScheduling;

/// Writes time frames on the second: a request waits for the next whole second and the
/// frame is written so that its last byte leaves the port as that second begins,
/// carrying it. Requests made while one waits are written in the same slot, as
/// identical frames.
///
/// The wait and the write happen on a thread of the writer's own, which sleeps on an
/// absolute deadline of the monotonic clock to just before the moment and waits out the
/// rest there: the thread that asks never waits on the port. Tests run it on the caller's
/// thread instead and write with writeDue().
class FrameWriter : public QObject
{
    Q_OBJECT
public:
    enum class Threading { OwnThread, Caller };

    /// How long the write may start late before the frame waits for the next second; and
    /// how far the PC clock may be set while a frame waits before its slot is planned again.
    static constexpr qint64 kLateLimitNs = 50'000'000;

    FrameWriter(SerialLink &link, const Clock &clock, Threading threading,
                QObject *parent = nullptr);
    ~FrameWriter() override;

    /// The time one frame takes on the line, from the port's line settings.
    void setFrameLineTimeNs(qint64 ns);
    /// The writer's thread asks `scheduling` for real-time priority, once, on itself;
    /// schedulingSet() tells what it got. Without it, the thread keeps normal scheduling.
    /// The thread holds its precise timers while a frame waits. `scheduling` outlives
    /// the writer.
    void setScheduling(ThreadScheduling *scheduling);
    /// Asks for a frame at the next slot.
    void request();
    /// Drops the waiting frames; returns once a write in progress has ended, so that the
    /// port may be closed.
    void cancel();
    /// Writes the waiting frames when their moment has come: the writer's thread calls it
    /// as it wakes; with Threading::Caller, tests do.
    void writeDue();

    /// The second the waiting frames carry; invalid when none waits.
    QDateTime pendingSecond() const;
    /// Monotonic nanoseconds until the waiting frames are to be written.
    qint64 nsUntilWrite() const;

signals:
    /// `frames` frames carrying `second` were written, their write started `lateNs` after
    /// its moment and done `doneNs` after it. Emitted on the writer's thread.
    void written(const QDateTime &second, int frames = 1, qint64 lateNs = 0, qint64 doneNs = 0);
    /// The write failed for `reason`; the port is to be closed.
    void failed(const QString &reason);
    /// The writer's thread runs at real-time priority or not (the log says how, or why
    /// not). Emitted on the writer's thread.
    void schedulingSet(bool realTime);

private:
    void run();
    void planSlot(); ///< with m_state held
    /// How long the thread waits awake before a write; with m_state held.
    qint64 awakeNs(bool timersPrecise) const;

    SerialLink &m_link;
    const Clock &m_clock;
    mutable std::mutex m_state; ///< guards everything below
    std::mutex m_writing;       ///< held while the port is written to
    std::condition_variable m_wake;
    qint64 m_frameLineTimeNs = 0;
    int m_pendingFrames = 0;
    QDateTime m_pendingSecond;
    qint64 m_writeAtNs = 0;      ///< monotonic time the write is to start
    qint64 m_plannedClockNs = 0; ///< PC clock less monotonic clock when the slot was planned
    bool m_stop = false;
    ThreadScheduling *m_scheduling = nullptr;
    bool m_schedulingUnasked = false; ///< the thread is yet to ask m_scheduling
    std::thread m_thread;
};
