#include "platform/RealTimeScheduling.h"

#include <cerrno>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int setFifo(int priority)
{
    // The calling thread only; a child the program might start does not inherit it.
    sched_param param{};
    param.sched_priority = priority;
    return ::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0 ? 0 : errno;
}

qint64 threadId()
{
    return qint64(::syscall(SYS_gettid));
}

QString scheduling()
{
    const int policy = ::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    sched_param param{};
    ::sched_getparam(0, &param);
    const char *name = policy == SCHED_FIFO ? "SCHED_FIFO"
                       : policy == SCHED_RR ? "SCHED_RR"
                                            : "SCHED_OTHER";
    return QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(param.sched_priority);
}

} // namespace

RealTimeScheduling::Io RealTimeScheduling::systemIo()
{
    return {setFifo, threadId, scheduling};
}

bool RealTimeScheduling::holdPreciseTimers(bool hold)
{
    // Linux wakes a sleeper to its timer slack, which wakeOnTime() sets to 1 ns.
    Q_UNUSED(hold);
    return false;
}

void RealTimeScheduling::wakeOnTime()
{
    // Woken to the microsecond: the default timer slack lets the kernel wake a sleeper up
    // to 50 us late, to save power.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
}

qint64 RealTimeScheduling::awakeNs(bool timersPrecise) const
{
    Q_UNUSED(timersPrecise);
    return kDefaultAwakeNs;
}
