#include "platform/RealTimeScheduling.h"

#include <cerrno>
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

namespace {

int setFifo(int priority)
{
    Q_UNUSED(priority);
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) ? 0 : EPERM;
}

qint64 threadId()
{
    return qint64(GetCurrentThreadId());
}

QString scheduling()
{
    return QStringLiteral("time-critical thread priority"); // only the program sets it
}

constexpr qint64 kNsPerMs = 1'000'000;

} // namespace

RealTimeScheduling::Io RealTimeScheduling::systemIo()
{
    return {setFifo, threadId, scheduling};
}

bool RealTimeScheduling::holdPreciseTimers(bool hold)
{
    // Counted by the system: each begin is ended once, and the tick goes back to what the
    // rest of the machine asks for.
    if (hold)
        return timeBeginPeriod(1) == TIMERR_NOERROR;
    timeEndPeriod(1);
    return false;
}

void RealTimeScheduling::wakeOnTime()
{
    // Windows has no slack to take away: its timers tick, which holdPreciseTimers() makes
    // fine while a frame waits.
}

qint64 RealTimeScheduling::awakeNs(bool timersPrecise) const
{
    // Windows wakes a sleeper at its timer's next tick, up to 16 ms late; with the timers
    // precise, within a millisecond or two.
    return timersPrecise ? 3 * kNsPerMs : 20 * kNsPerMs;
}
