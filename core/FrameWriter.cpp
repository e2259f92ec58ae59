#include "core/FrameWriter.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "core/SerialLink.h"
#include "core/SyncSlot.h"
#include "core/ThreadScheduling.h"
#include "core/TimeFrame.h"

#include <chrono>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#include <cstdlib>
#include <utility>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
/// The thread sleeps until this long before the write and waits out the rest awake: a
/// sleeper is woken up to some tens of microseconds late on Linux, and later on a busy
/// machine; Windows wakes it at its timer's next tick, up to 16 ms late.
#ifdef Q_OS_WIN
constexpr qint64 kAwakeNs = 20 * kNsPerMs;
#else
constexpr qint64 kAwakeNs = 300'000;
#endif
/// The awake wait never lasts longer than this, whatever the clock says.
constexpr qint64 kMaxAwakeNs = kAwakeNs + 2 * kNsPerMs;

} // namespace

FrameWriter::FrameWriter(SerialLink &link, const Clock &clock, Threading threading, QObject *parent)
    : QObject(parent), m_link(link), m_clock(clock)
{
    if (threading == Threading::OwnThread)
        m_thread = std::thread([this] { run(); });
}

FrameWriter::~FrameWriter()
{
    {
        const std::lock_guard lock(m_state);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void FrameWriter::setFrameLineTimeNs(qint64 ns)
{
    const std::lock_guard lock(m_state);
    m_frameLineTimeNs = ns;
}

void FrameWriter::setScheduling(ThreadScheduling *scheduling)
{
    {
        const std::lock_guard lock(m_state);
        m_scheduling = scheduling;
    }
    m_wake.notify_all();
}

void FrameWriter::request()
{
    {
        const std::lock_guard lock(m_state);
        if (++m_pendingFrames > 1)
            return;
        planSlot();
    }
    m_wake.notify_all();
}

void FrameWriter::cancel()
{
    {
        const std::lock_guard lock(m_state);
        m_pendingFrames = 0;
    }
    m_wake.notify_all();
    const std::lock_guard wait(m_writing);
}

void FrameWriter::planSlot()
{
    // Planned with a lead of nothing: the thread needs no head start, only the awake wait.
    const qint64 wallNow = m_clock.wallNs();
    const qint64 monoNow = m_clock.monotonicNs();
    const SyncSlot slot = nextSyncSlot(wallNow, m_frameLineTimeNs, kAwakeNs);
    m_pendingSecond = slot.second;
    m_writeAtNs = monoNow + slot.delayNs;
    m_plannedClockNs = wallNow - monoNow;
}

QDateTime FrameWriter::pendingSecond() const
{
    const std::lock_guard lock(m_state);
    return m_pendingFrames ? m_pendingSecond : QDateTime();
}

qint64 FrameWriter::nsUntilWrite() const
{
    const std::lock_guard lock(m_state);
    return m_writeAtNs - m_clock.monotonicNs();
}

void FrameWriter::run()
{
#ifdef Q_OS_LINUX
    // Woken to the microsecond: the default timer slack lets the kernel wake a sleeper up
    // to 50 us late, to save power.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    std::unique_lock lock(m_state);
    while (!m_stop) {
        if (ThreadScheduling *scheduling = std::exchange(m_scheduling, nullptr)) {
            // Real-time priority for the short wait and the write: the thread sleeps all
            // but a third of a millisecond of each second, so it can never starve the PC.
            lock.unlock();
            const ThreadScheduling::Outcome got = scheduling->makeCurrentThreadRealTime();
            if (got.realTime)
                qCInfo(lcSync).noquote()
                    << QStringLiteral("frames are written at real-time priority (%1)")
                           .arg(got.detail);
            else
                qCWarning(lcSync).noquote()
                    << QStringLiteral("frames are written at normal priority, so a busy PC "
                                      "may make them late: %1")
                           .arg(got.detail);
            emit schedulingSet(got.realTime, got.detail);
            lock.lock();
            continue;
        }
        if (m_pendingFrames == 0) {
            m_wake.wait(lock);
            continue;
        }
        const qint64 sleepNs = m_writeAtNs - kAwakeNs - m_clock.monotonicNs();
        if (sleepNs > 0) {
            // An absolute deadline on the monotonic clock: a request, a cancel or the end
            // wakes the thread sooner, and it looks again.
            m_wake.wait_until(lock,
                              std::chrono::steady_clock::now() + std::chrono::nanoseconds(sleepNs));
            continue;
        }
        // The rest is waited out awake, without holding the state: a request or a cancel
        // meanwhile never waits for it.
        const qint64 writeAtNs = m_writeAtNs;
        lock.unlock();
        const qint64 awakeUntil = m_clock.monotonicNs() + kMaxAwakeNs;
        while (m_clock.monotonicNs() < writeAtNs && m_clock.monotonicNs() < awakeUntil) {
        }
        writeDue();
        lock.lock();
    }
}

void FrameWriter::writeDue()
{
    std::unique_lock lock(m_state);
    if (m_pendingFrames == 0)
        return;
    const qint64 monoNow = m_clock.monotonicNs();
    if (monoNow < m_writeAtNs)
        return; // woken early: the frame waits on for its moment
    // The slot is planned again when the frame would no longer set the display right:
    // the write was woken too late (the computer was busy or asleep), or the PC clock was
    // set while the frame waited (by hand, by a time server, or the computer slept).
    const qint64 lateNs = monoNow - m_writeAtNs;
    const qint64 clockSetNs = m_clock.wallNs() - monoNow - m_plannedClockNs;
    if (lateNs > kLateLimitNs || std::abs(clockSetNs) > kLateLimitNs) {
        qCWarning(lcSync) << "write woken" << lateNs / kNsPerMs << "ms late, PC clock set by"
                       << clockSetNs / kNsPerMs << "ms: planning the slot again";
        planSlot();
        lock.unlock();
        m_wake.notify_all();
        return;
    }
    const QDateTime second = m_pendingSecond;
    const QByteArray frames = TimeFrame(second.time()).repeated(m_pendingFrames);
    m_pendingFrames = 0;
    // Taken before the state is let go: a cancel from now on waits for this write.
    std::unique_lock writing(m_writing);
    lock.unlock();
    QString error;
    const bool ok = m_link.write(frames, &error);
    const qint64 doneNs = m_clock.monotonicNs() - (monoNow - lateNs);
    writing.unlock();
    if (!ok) {
        qCWarning(lcSync).noquote() << "write failed:" << error;
        emit failed(error);
        return;
    }
    qCDebug(lcSync).noquote() << "sent" << frames.toHex(' ') << "for"
                              << second.toString(Qt::ISODate) << "write started" << lateNs / 1000
                              << "us after its moment, done after" << doneNs / 1000 << "us";
    emit written(second);
}
