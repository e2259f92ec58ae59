#include "core/FrameWriter.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "core/SerialLink.h"
#include "core/SyncSlot.h"
#include "core/ThreadScheduling.h"
#include "core/TimeFrame.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
/// The awake wait never lasts longer than this beyond its start, whatever the clock says.
constexpr qint64 kMaxAwakeBeyondNs = 2 * kNsPerMs;

/// The PC clock less the monotonic clock, and a monotonic time read with it. The wall
/// clock is read between two readings of the monotonic one, again where something took
/// the processor in between (a busy PC interrupts a thread of normal priority for
/// milliseconds), so the two are known to belong together to some microseconds.
struct ClockReading
{
    qint64 monoNs;
    qint64 offsetNs;
};

ClockReading readTogether(const Clock &clock)
{
    constexpr qint64 kTogetherNs = 20'000;
    ClockReading best{0, 0};
    qint64 bestGap = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const qint64 before = clock.monotonicNs();
        const qint64 wall = clock.wallNs();
        const qint64 after = clock.monotonicNs();
        const qint64 mono = before + (after - before) / 2;
        if (bestGap < 0 || after - before < bestGap) {
            bestGap = after - before;
            best = {mono, wall - mono};
        }
        if (bestGap <= kTogetherNs)
            break;
    }
    return best;
}

} // namespace

FrameWriter::FrameWriter(SerialLink &link, const Clock &clock, Threading threading, QObject *parent)
    : QObject(parent), m_link(link), m_clock(clock)
{
    // The line of each frame written is made where it is reported, not on the writer's
    // thread, which goes back to sleep as soon as it has written: a thread at real-time
    // priority does no work it need not do.
    connect(this, &FrameWriter::written, this,
            [](const QDateTime &second, int frames, qint64 lateNs, qint64 doneNs) {
                qCDebug(lcSync).noquote()
                    << "sent" << TimeFrame(second.time()).repeated(frames).toHex(' ') << "for"
                    << second.toString(Qt::ISODate) << "write started" << lateNs / 1000
                    << "us after its moment, done after" << doneNs / 1000 << "us";
            });
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
        m_schedulingUnasked = true;
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

qint64 FrameWriter::awakeNs(bool timersPrecise) const
{
    return m_scheduling ? m_scheduling->awakeNs(timersPrecise) : ThreadScheduling::kDefaultAwakeNs;
}

void FrameWriter::planSlot()
{
    // Planned with a lead of nothing: the thread needs no head start, only the awake wait.
    const ClockReading now = readTogether(m_clock);
    const SyncSlot slot = nextSyncSlot(now.monoNs + now.offsetNs, m_frameLineTimeNs,
                                       awakeNs(false));
    m_pendingSecond = slot.second;
    m_writeAtNs = now.monoNs + slot.delayNs;
    m_plannedClockNs = now.offsetNs;
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
    std::unique_lock lock(m_state);
    // Precise timers are held while a frame waits, from its request to its write or drop,
    // and given back to whoever gave them.
    ThreadScheduling *timersHeldBy = nullptr;
    bool timersPrecise = false;
    const auto holdTimers = [&](ThreadScheduling *scheduling, bool hold) {
        lock.unlock();
        timersPrecise = scheduling->holdPreciseTimers(hold);
        lock.lock();
        timersHeldBy = hold ? scheduling : nullptr;
    };
    while (!m_stop) {
        if (m_schedulingUnasked && m_scheduling) {
            m_schedulingUnasked = false;
            ThreadScheduling *scheduling = m_scheduling;
            // Real-time priority for the short wait and the write: the thread sleeps all
            // but a millisecond at each frame, so it can never starve the PC.
            lock.unlock();
            scheduling->wakeOnTime();
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
            emit schedulingSet(got.realTime);
            lock.lock();
            continue;
        }
        if (m_pendingFrames == 0) {
            if (timersHeldBy) {
                holdTimers(timersHeldBy, false);
                continue;
            }
            m_wake.wait(lock);
            continue;
        }
        if (!timersHeldBy && m_scheduling) {
            holdTimers(m_scheduling, true);
            continue;
        }
        const qint64 awake = awakeNs(timersPrecise);
        const qint64 sleepNs = m_writeAtNs - awake - m_clock.monotonicNs();
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
        const qint64 awakeUntil = m_clock.monotonicNs() + awake + kMaxAwakeBeyondNs;
        while (m_clock.monotonicNs() < writeAtNs && m_clock.monotonicNs() < awakeUntil) {
        }
        writeDue();
        lock.lock();
    }
    if (timersHeldBy)
        holdTimers(timersHeldBy, false);
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
    const int count = m_pendingFrames;
    const QByteArray frames = TimeFrame(second.time()).repeated(count);
    m_pendingFrames = 0;
    // Taken before the state is let go: a cancel from now on waits for this write.
    std::unique_lock writing(m_writing);
    lock.unlock();
    QString error;
    const bool ok = m_link.write(frames, &error);
    const qint64 doneNs = m_clock.monotonicNs() - (monoNow - lateNs);
    writing.unlock();
    // The processor goes to the driver first: a driver that hands the bytes on from a
    // kernel worker (a pseudo-terminal's does) has it woken on this processor, where it
    // runs at once when this thread steps aside, and only after the report below if not.
    std::this_thread::yield();
    if (!ok) {
        qCWarning(lcSync).noquote() << "write failed:" << error;
        emit failed(error);
        return;
    }
    emit written(second, count, lateNs, doneNs);
}
