#pragma once

#include <QString>

/// The system's scheduling for the thread that writes the frames: at real-time priority
/// it starts its write on time even while the PC is busy. The platform implements it.
class ThreadScheduling
{
public:
    /// What the thread got.
    struct Outcome
    {
        bool realTime = false;
        QString detail; ///< how it got it ("SCHED_FIFO 20"), or why not
    };

    virtual ~ThreadScheduling() = default;
    /// Asks for real-time scheduling for the calling thread, and only for it.
    virtual Outcome makeCurrentThreadRealTime() = 0;
    /// Held while a frame waits, let go once it is written or dropped: the platform may
    /// make its timers wake a sleeper to the millisecond meanwhile (Windows' tick is 15.6 ms
    /// unless raised, and raising it costs power the whole machine pays). True while the
    /// timers are precise.
    virtual bool holdPreciseTimers(bool hold)
    {
        Q_UNUSED(hold);
        return false;
    }
    /// Makes the calling thread's sleeps end on time where the system would let them end
    /// late to save power. The writer's thread calls it once, with its request above.
    virtual void wakeOnTime() {}
    /// How long before its moment the writer stops sleeping and waits out the rest awake:
    /// how late this system may wake a sleeper, with its timers precise or not.
    virtual qint64 awakeNs(bool timersPrecise) const
    {
        Q_UNUSED(timersPrecise);
        return kDefaultAwakeNs;
    }

    /// A sleeper is woken some tens of microseconds late on a quiet machine and up to most
    /// of a millisecond on a busy one, even at real-time priority. A millisecond awake for
    /// each frame is a thousandth of a processor while frames go out every second.
    static constexpr qint64 kDefaultAwakeNs = 1'000'000;
};
