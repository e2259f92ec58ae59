#pragma once

#include "core/ThreadScheduling.h"

#include <functional>

/// Real-time scheduling for the calling thread. On Linux: SCHED_FIFO at a modest priority
/// where the process may set it itself (root, CAP_SYS_NICE, or an RLIMIT_RTPRIO the
/// administrator or the service unit grants); else, where a broker is given, through it
/// (RealtimeKit on a desktop), its sleeps ended without timer slack. On Windows: the
/// thread's time-critical priority, and the system timer at 1 ms while a frame waits.
class RealTimeScheduling : public ThreadScheduling
{
public:
    /// SCHED_FIFO's priority: above the desktop's ordinary real-time users' defaults, far
    /// below the kernel's own threads and what sound servers ask for.
    static constexpr int kPriority = 20;

    /// The system calls it makes; tests replace them.
    struct Io
    {
        /// Sets SCHED_FIFO at `priority` for the calling thread; 0 or the errno.
        int (*setFifo)(int priority);
        /// The calling thread's kernel ID.
        qint64 (*threadId)();
        /// The calling thread's scheduling as the system runs it ("SCHED_RR 20"): a broker
        /// chooses its own policy and priority.
        QString (*scheduling)();
    };
    static Io systemIo();

    /// Asks someone else to make thread `threadId` real-time at `priority`; false with
    /// `why` when it would not or is not there.
    using Broker = std::function<bool(qint64 threadId, int priority, QString *why)>;

    explicit RealTimeScheduling(Broker broker = {}, Io io = systemIo());

    Outcome makeCurrentThreadRealTime() override;
    bool holdPreciseTimers(bool hold) override;
    void wakeOnTime() override;
    qint64 awakeNs(bool timersPrecise) const override;

private:
    Broker m_broker;
    Io m_io;
};
