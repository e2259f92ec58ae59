#include "platform/RealTimeScheduling.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>

// The system calls, the timers and the awake wait are in RealTimeSchedulingLinux.cpp and
// RealTimeSchedulingWindows.cpp, one of which the build takes.

RealTimeScheduling::RealTimeScheduling(Broker broker, Io io)
    : m_broker(std::move(broker)), m_io(io)
{}

ThreadScheduling::Outcome RealTimeScheduling::makeCurrentThreadRealTime()
{
    const int error = m_io.setFifo(kPriority);
    if (error == 0)
        return {true, m_io.scheduling()};
    QString why = systemErrorText(error);
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
