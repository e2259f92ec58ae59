#include "platform/RealTimeScheduling.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>
#else
#include <sched.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#endif
#endif

namespace {

int setFifo(int priority)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(priority);
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) ? 0 : EPERM;
#elif defined(Q_OS_LINUX)
    // The calling thread only; a child the program might start does not inherit it.
    sched_param param{};
    param.sched_priority = priority;
    return ::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0 ? 0 : errno;
#else
    Q_UNUSED(priority);
    return ENOSYS;
#endif
}

qint64 threadId()
{
#if defined(Q_OS_WIN)
    return qint64(GetCurrentThreadId());
#elif defined(Q_OS_LINUX)
    return qint64(::syscall(SYS_gettid));
#else
    return 0;
#endif
}

QString scheduling()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("time-critical thread priority"); // only the program sets it
#elif defined(Q_OS_LINUX)
    const int policy = ::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    sched_param param{};
    ::sched_getparam(0, &param);
    const char *name = policy == SCHED_FIFO ? "SCHED_FIFO"
                       : policy == SCHED_RR ? "SCHED_RR"
                                            : "SCHED_OTHER";
    return QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(param.sched_priority);
#else
    return QString();
#endif
}

} // namespace

RealTimeScheduling::Io RealTimeScheduling::systemIo()
{
    return {setFifo, threadId, scheduling};
}

RealTimeScheduling::RealTimeScheduling(Broker broker, Io io)
    : m_broker(std::move(broker)), m_io(io)
{}

ThreadScheduling::Outcome RealTimeScheduling::makeCurrentThreadRealTime()
{
    const int error = m_io.setFifo(kPriority);
    if (error == 0)
        return {true, m_io.scheduling()};
    QString why = QString::fromLocal8Bit(std::strerror(error));
    if (error == EPERM)
        why = QStringLiteral("the program may not set it itself (no CAP_SYS_NICE, and "
                             "RLIMIT_RTPRIO below %1)")
                  .arg(kPriority);
    if (!m_broker)
        return {false, why};
    QString brokerWhy;
    if (m_broker(m_io.threadId(), kPriority, &brokerWhy))
        return {true, m_io.scheduling() + QStringLiteral(" through RealtimeKit")};
    return {false, why + QStringLiteral("; RealtimeKit: ") + brokerWhy};
}

bool RealTimeScheduling::holdPreciseTimers(bool hold)
{
#ifdef Q_OS_WIN
    // Counted by the system: each begin is ended once, and the tick goes back to what the
    // rest of the machine asks for.
    if (hold)
        return timeBeginPeriod(1) == TIMERR_NOERROR;
    timeEndPeriod(1);
    return false;
#else
    // Linux wakes a sleeper to its timer slack, which the writer sets to 1 ns.
    Q_UNUSED(hold);
    return false;
#endif
}
