#pragma once

#include <QDateTime>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class Clock;
class SerialLink;
class ThreadScheduling;

class FrameWriter;

/// What starting a due write came to.
struct FrameWriteStart
{
    enum { Nothing, Written, Pending, Failed } outcome = Nothing;
    QDateTime second;
    int frames = 0;
    qint64 lateNs = 0;
    qint64 momentNs = 0; ///< monotonic time the write was to start
    qint64 doneNs = 0;   ///< when it ended, after its moment
    QString error;
};

/// The thread that writes the frames of one or many writers. It sleeps on an absolute
/// deadline of the monotonic clock to just before the earliest moment any of them waits
/// for, waits out the rest awake, and starts the write of every frame due then in one
/// pass, each on its moment: a hundred displays cost one wake-up a second, as one does.
/// A port that does not take its frame at once is finished by a second thread, so that it
/// never holds up another display's frame.
class FrameWriterThread
{
public:
    explicit FrameWriterThread(const Clock &clock);
    ~FrameWriterThread();
    FrameWriterThread(const FrameWriterThread &) = delete;
    FrameWriterThread &operator=(const FrameWriterThread &) = delete;

private:
    friend class FrameWriter;
    enum class Threads { Own, None };
    FrameWriterThread(const Clock &clock, Threads threads);
    void add(FrameWriter *writer);
    void remove(FrameWriter *writer);
    void setScheduling(ThreadScheduling *scheduling, FrameWriter *asking);
    /// How long the thread waits awake before a write; with m_state held.
    qint64 awakeNs(bool timersPrecise) const;
    void run();
    void finishWrites();

    const Clock &m_clock;
    std::mutex m_state;                ///< guards everything below and every writer's state
    std::condition_variable m_wake;    ///< a request, a cancel, a write to finish, the end
    std::condition_variable m_settled; ///< a pass or a finished write has let a writer go
    std::vector<FrameWriter *> m_writers;
    std::deque<FrameWriter *> m_unfinished; ///< writes that wait for the finishing thread
    FrameWriter *m_finishing = nullptr;     ///< the one the finishing thread writes
    std::vector<std::pair<FrameWriter *, FrameWriteStart>> m_reports; ///< outcomes to tell
    qint64 m_reportAtNs = 0; ///< monotonic time they are told
    bool m_passing = false;  ///< a pass is writing without the state held
    bool m_stop = false;
    ThreadScheduling *m_scheduling = nullptr;
    bool m_schedulingUnasked = false; ///< the thread is yet to ask m_scheduling
    std::optional<bool> m_realTime;   ///< what it got, once asked
    std::thread m_thread;
    std::thread m_finisher;
};

/// Writes time frames on the second: a request waits for the next whole second and the
/// frame is written so that its last byte leaves the port as that second begins,
/// carrying it. Requests made while one waits are written in the same slot, as
/// identical frames.
///
/// The wait and the write happen on a FrameWriterThread, the writer's own or one it
/// shares with the writers of other displays: the thread that asks never waits on the
/// port. Tests run it on the caller's thread instead and write with writeDue().
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
    /// Written by `shared`'s thread, which outlives the writer, in one pass with the
    /// frames of the other writers it serves.
    FrameWriter(SerialLink &link, const Clock &clock, FrameWriterThread &shared,
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
    friend class FrameWriterThread;
    using Start = FrameWriteStart;
    void planSlot();                                                   ///< with m_state held
    bool waiting() const { return m_pendingFrames > 0 && !m_writing; } ///< with m_state held
    /// Starts the write of the waiting frames if their moment has come, without waiting
    /// for the port.
    Start startDue();
    /// Writes what the port did not take at once, and tells the outcome.
    void finishDue(Start start);
    void report(const Start &start);
    void init();
    void endWrite(); ///< marks the write ended, for cancel()

    SerialLink &m_link;
    const Clock &m_clock;
    std::unique_ptr<FrameWriterThread> m_ownThread;
    FrameWriterThread &m_thread;
    std::mutex &m_state; ///< the thread's; guards everything below
    QString m_display;   ///< whose frames these are, for the log
    qint64 m_frameLineTimeNs = 0;
    int m_pendingFrames = 0;
    QDateTime m_pendingSecond;
    qint64 m_writeAtNs = 0;      ///< monotonic time the write is to start
    qint64 m_plannedClockNs = 0; ///< PC clock less monotonic clock when the slot was planned
    bool m_writing = false;      ///< a write to the port has started and not ended
    Start m_pendingStart;        ///< a write the finishing thread is to finish
};
