#include "core/FrameWriter.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "core/SerialLink.h"
#include "core/SyncSlot.h"
#include "core/ThreadScheduling.h"
#include "core/TimeFrame.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
/// The awake wait never lasts longer than this beyond its start, whatever the clock says.
constexpr qint64 kMaxAwakeBeyondNs = 2 * kNsPerMs;
/// How long after their writes the outcomes are reported: time for the drivers to hand
/// the bytes on before the reports' work takes a processor.
constexpr qint64 kReportAfterNs = 2 * kNsPerMs;

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

FrameWriterThread::FrameWriterThread(const Clock &clock) : FrameWriterThread(clock, Threads::Own) {}

FrameWriterThread::FrameWriterThread(const Clock &clock, Threads threads) : m_clock(clock)
{
    if (threads == Threads::None)
        return;
    // The finishing thread first: it keeps normal scheduling, which the writing thread
    // leaves once it asks for real-time priority.
    m_finisher = std::thread([this] { finishWrites(); });
    m_thread = std::thread([this] { run(); });
}

FrameWriterThread::~FrameWriterThread()
{
    {
        const std::lock_guard lock(m_state);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_finisher.joinable())
        m_finisher.join();
}

void FrameWriterThread::add(FrameWriter *writer)
{
    const std::lock_guard lock(m_state);
    m_writers.push_back(writer);
}

void FrameWriterThread::remove(FrameWriter *writer)
{
    std::unique_lock lock(m_state);
    m_writers.erase(std::find(m_writers.begin(), m_writers.end(), writer));
    m_unfinished.erase(std::remove(m_unfinished.begin(), m_unfinished.end(), writer),
                       m_unfinished.end());
    m_reports.erase(std::remove_if(m_reports.begin(), m_reports.end(),
                                   [writer](const auto &report) { return report.first == writer; }),
                    m_reports.end());
    // Neither thread may be using it once it is gone.
    m_settled.wait(lock, [&] { return !m_passing && m_finishing != writer; });
}

void FrameWriterThread::setScheduling(ThreadScheduling *scheduling, FrameWriter *asking)
{
    {
        std::unique_lock lock(m_state);
        if (scheduling == m_scheduling && m_realTime) {
            // Asked already, for the writers before this one.
            const bool realTime = *m_realTime;
            lock.unlock();
            emit asking->schedulingSet(realTime);
            return;
        }
        if (scheduling == m_scheduling)
            return; // being asked: every writer hears the outcome
        m_scheduling = scheduling;
        m_schedulingUnasked = true;
        m_realTime.reset();
    }
    m_wake.notify_all();
}

qint64 FrameWriterThread::awakeNs(bool timersPrecise) const
{
    return m_scheduling ? m_scheduling->awakeNs(timersPrecise) : ThreadScheduling::kDefaultAwakeNs;
}

void FrameWriterThread::run()
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
    std::vector<std::pair<qint64, FrameWriter *>> due;
    std::vector<std::pair<FrameWriter *, FrameWriteStart>> started;
    while (!m_stop) {
        if (m_schedulingUnasked && m_scheduling) {
            m_schedulingUnasked = false;
            ThreadScheduling *scheduling = m_scheduling;
            // Real-time priority for the short wait and the writes: the thread sleeps all
            // but a millisecond at each moment, so it can never starve the PC.
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
            lock.lock();
            m_realTime = got.realTime;
            m_passing = true; // the writers stay while they hear it
            const std::vector<FrameWriter *> writers = m_writers;
            lock.unlock();
            for (FrameWriter *writer : writers)
                emit writer->schedulingSet(got.realTime);
            lock.lock();
            m_passing = false;
            m_settled.notify_all();
            continue;
        }
        const FrameWriter *first = nullptr;
        for (const FrameWriter *writer : m_writers)
            if (writer->waiting() && (!first || writer->m_writeAtNs < first->m_writeAtNs))
                first = writer;
        // The scheduling is asked only while a frame waits: idle, the thread touches nothing
        // but its own state.
        const qint64 awake = first ? awakeNs(timersPrecise) : 0;
        const qint64 now = m_clock.monotonicNs();
        if (!m_reports.empty() && now >= m_reportAtNs &&
            (!first || first->m_writeAtNs - awake > now)) {
            const std::vector<std::pair<FrameWriter *, FrameWriteStart>> reports =
                std::exchange(m_reports, {});
            m_passing = true; // the writers stay while they report
            lock.unlock();
            for (const auto &[writer, start] : reports) {
                const LogScope scope(writer->m_display);
                writer->report(start);
            }
            lock.lock();
            m_passing = false;
            m_settled.notify_all();
            continue;
        }
        if (!first && m_reports.empty()) {
            if (timersHeldBy) {
                holdTimers(timersHeldBy, false);
                continue;
            }
            m_wake.wait(lock);
            continue;
        }
        if (first && !timersHeldBy && m_scheduling) {
            holdTimers(m_scheduling, true);
            continue;
        }
        qint64 wakeAtNs = first ? first->m_writeAtNs - awake : m_reportAtNs;
        if (!m_reports.empty())
            wakeAtNs = std::min(wakeAtNs, m_reportAtNs);
        if (wakeAtNs > now) {
            // An absolute deadline on the monotonic clock: a request, a cancel or the end
            // wakes the thread sooner, and it looks again.
            m_wake.wait_until(lock, std::chrono::steady_clock::now() +
                                        std::chrono::nanoseconds(wakeAtNs - now));
            continue;
        }
        if (!first)
            continue;
        // One pass: every frame whose moment falls within this wait, each started on its
        // moment, waited out awake without the state held (a request or a cancel meanwhile
        // never waits for it).
        due.clear();
        for (FrameWriter *writer : m_writers)
            if (writer->waiting() && writer->m_writeAtNs <= first->m_writeAtNs + awake)
                due.emplace_back(writer->m_writeAtNs, writer);
        std::sort(due.begin(), due.end());
        m_passing = true;
        lock.unlock();
        const qint64 awakeUntil = m_clock.monotonicNs() + awake + kMaxAwakeBeyondNs;
        started.clear();
        for (const auto &[writeAtNs, writer] : due) {
            while (m_clock.monotonicNs() < writeAtNs && m_clock.monotonicNs() < awakeUntil) {
            }
            const LogScope scope(writer->m_display);
            started.emplace_back(writer, writer->startDue());
        }
        // The processors go to the drivers first: a driver that hands the bytes on from a
        // kernel worker of normal priority (a pseudo-terminal's does) would wait for the
        // work a report makes on the main thread. The reports go kReportAfterNs later.
        std::this_thread::yield();
        lock.lock();
        bool unfinished = false;
        for (auto &[writer, start] : started) {
            if (start.outcome == FrameWriteStart::Pending) {
                writer->m_pendingStart = std::move(start);
                m_unfinished.push_back(writer);
                unfinished = true;
            } else if (start.outcome != FrameWriteStart::Nothing) {
                m_reports.emplace_back(writer, std::move(start));
            }
        }
        m_reportAtNs = m_clock.monotonicNs() + kReportAfterNs;
        m_passing = false;
        m_settled.notify_all();
        if (unfinished)
            m_wake.notify_all();
    }
    if (timersHeldBy)
        holdTimers(timersHeldBy, false);
}

void FrameWriterThread::finishWrites()
{
    std::unique_lock lock(m_state);
    while (!m_stop) {
        if (m_unfinished.empty()) {
            m_wake.wait(lock);
            continue;
        }
        FrameWriter *writer = m_unfinished.front();
        m_unfinished.pop_front();
        m_finishing = writer;
        FrameWriteStart start = std::move(writer->m_pendingStart);
        lock.unlock();
        {
            const LogScope scope(writer->m_display);
            writer->finishDue(std::move(start));
        }
        lock.lock();
        m_finishing = nullptr;
        m_settled.notify_all();
        m_wake.notify_all();
    }
}

FrameWriter::FrameWriter(SerialLink &link, const Clock &clock, Threading threading, QObject *parent)
    : QObject(parent), m_link(link), m_clock(clock),
      m_ownThread(new FrameWriterThread(clock, threading == Threading::OwnThread
                                                   ? FrameWriterThread::Threads::Own
                                                   : FrameWriterThread::Threads::None)),
      m_thread(*m_ownThread), m_state(m_thread.m_state), m_display(LogScope::current())
{
    init();
}

FrameWriter::FrameWriter(SerialLink &link, const Clock &clock, FrameWriterThread &shared,
                         QObject *parent)
    : QObject(parent), m_link(link), m_clock(clock), m_thread(shared), m_state(shared.m_state),
      m_display(LogScope::current())
{
    init();
}

void FrameWriter::init()
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
    m_thread.add(this);
}

FrameWriter::~FrameWriter()
{
    m_thread.remove(this);
}

void FrameWriter::setFrameLineTimeNs(qint64 ns)
{
    const std::lock_guard lock(m_state);
    m_frameLineTimeNs = ns;
}

void FrameWriter::setScheduling(ThreadScheduling *scheduling)
{
    m_thread.setScheduling(scheduling, this);
}

void FrameWriter::request()
{
    {
        const std::lock_guard lock(m_state);
        if (++m_pendingFrames > 1)
            return;
        planSlot();
    }
    m_thread.m_wake.notify_all();
}

void FrameWriter::cancel()
{
    std::unique_lock lock(m_state);
    m_pendingFrames = 0;
    m_thread.m_wake.notify_all();
    m_thread.m_settled.wait(lock, [this] { return !m_writing; });
}

void FrameWriter::planSlot()
{
    // Planned with a lead of nothing: the thread needs no head start, only the awake wait.
    const ClockReading now = readTogether(m_clock);
    const SyncSlot slot =
        nextSyncSlot(now.monoNs + now.offsetNs, m_frameLineTimeNs, m_thread.awakeNs(false));
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

void FrameWriter::writeDue()
{
    const Start start = startDue();
    if (start.outcome == Start::Pending)
        finishDue(start);
    else
        report(start);
}

FrameWriteStart FrameWriter::startDue()
{
    std::unique_lock lock(m_state);
    Start start;
    if (!waiting())
        return start;
    const qint64 monoNow = m_clock.monotonicNs();
    if (monoNow < m_writeAtNs)
        return start; // woken early: the frame waits on for its moment
    // The slot is planned again when the frame would no longer set the display right:
    // the write was woken too late (the computer was busy or asleep, or the port took
    // the last frame late), or the PC clock was set while the frame waited (by hand, by
    // a time server, or the computer slept).
    const qint64 lateNs = monoNow - m_writeAtNs;
    const qint64 clockSetNs = m_clock.wallNs() - monoNow - m_plannedClockNs;
    if (lateNs > kLateLimitNs || std::abs(clockSetNs) > kLateLimitNs) {
        qCWarning(lcSync) << "write woken" << lateNs / kNsPerMs << "ms late, PC clock set by"
                          << clockSetNs / kNsPerMs << "ms: planning the slot again";
        planSlot();
        lock.unlock();
        m_thread.m_wake.notify_all();
        return start;
    }
    start.second = m_pendingSecond;
    start.frames = m_pendingFrames;
    start.lateNs = lateNs;
    start.momentNs = monoNow - lateNs;
    m_pendingFrames = 0;
    // Marked before the state is let go: a cancel from now on waits for this write.
    m_writing = true;
    lock.unlock();
    const SerialLink::Started outcome =
        m_link.startWrite(TimeFrame(start.second.time()).repeated(start.frames), &start.error);
    start.outcome = outcome == SerialLink::Started::Done      ? Start::Written
                    : outcome == SerialLink::Started::Pending ? Start::Pending
                                                              : Start::Failed;
    start.doneNs = m_clock.monotonicNs() - start.momentNs;
    if (start.outcome != Start::Pending)
        endWrite();
    return start;
}

void FrameWriter::finishDue(Start start)
{
    start.outcome = m_link.finishWrite(&start.error) ? Start::Written : Start::Failed;
    start.doneNs = m_clock.monotonicNs() - start.momentNs;
    endWrite();
    report(start);
}

void FrameWriter::endWrite()
{
    {
        const std::lock_guard lock(m_state);
        m_writing = false;
    }
    m_thread.m_settled.notify_all();
}

void FrameWriter::report(const Start &start)
{
    if (start.outcome == Start::Failed) {
        qCWarning(lcSync).noquote() << "write failed:" << start.error;
        emit failed(start.error);
    } else if (start.outcome == Start::Written) {
        emit written(start.second, start.frames, start.lateNs, start.doneNs);
    }
}
