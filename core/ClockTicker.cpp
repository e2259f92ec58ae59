#include "core/ClockTicker.h"

#include "core/Clock.h"
#include "core/Log.h"

#include <QDateTime>
#include <QTimer>
#include <cstdlib>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
/// The timer ticks this long after the change of second, and half a second later to look
/// for steps of the PC clock ...
constexpr int kTickAfterSecondMs = 1;
constexpr int kTicksPerSecond = 2;
/// ... and a tick up to this long before its moment counts as on time.
constexpr int kEarlyTickMs = 50;

QTime wholeSecond(const QTime &time)
{
    return QTime(time.hour(), time.minute(), time.second());
}

} // namespace

ClockTicker::ClockTicker(const Clock &clock, QObject *parent)
    : QObject(parent), m_clock(clock), m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ClockTicker::tick);
}

void ClockTicker::start()
{
    const qint64 wallNs = m_clock.wallNs();
    const qint64 monoNs = m_clock.monotonicNs();
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(wallNs / kNsPerMs);
    m_shown = wholeSecond(now.time());
    emit secondChanged(m_shown);
    noteClocks(wallNs, monoNs);
    arm(now);
}

void ClockTicker::stop()
{
    m_timer->stop();
}

void ClockTicker::tick()
{
    const qint64 wallNs = m_clock.wallNs();
    const qint64 monoNs = m_clock.monotonicNs();
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(wallNs / kNsPerMs);
    // A tick that comes a little before the change of second tells of the second it was for.
    const QTime second = wholeSecond(now.addMSecs(kEarlyTickMs).time());
    if (second != m_shown) {
        m_shown = second;
        emit secondChanged(second);
    }
    if (const qint64 stepNs = noteClocks(wallNs, monoNs); 
        std::abs(stepNs) >= kStepLimitNs - kReadingAllowanceNs) {
        qCInfo(lcSync) << "the PC clock was stepped by" << stepNs / 1000 << "us: sync";
        emit stepped(stepNs);
    }
    emit ticked();
    arm(now);
}

qint64 ClockTicker::noteClocks(qint64 wallNs, qint64 monoNs)
{
    // Local time, so that a daylight-saving change counts as the step it is for the
    // display.
    const qint64 offsetNs =
        qint64(QDateTime::fromMSecsSinceEpoch(wallNs / kNsPerMs).offsetFromUtc()) * 1000 * kNsPerMs;
    const qint64 localNs = wallNs + offsetNs;
    const qint64 stepNs = localNs - (m_lastLocalNs + (monoNs - m_lastMonoNs));
    m_lastLocalNs = localNs;
    m_lastMonoNs = monoNs;
    return stepNs;
}

void ClockTicker::arm(const QDateTime &now)
{
    // The moments are kTickAfterSecondMs and half a second later. Shifted by
    // kEarlyTickMs, a tick that came a little early counts as the one it was aimed at.
    constexpr int kStepMs = 1000 / kTicksPerSecond;
    const int shiftedMs = now.addMSecs(kEarlyTickMs).time().msec();
    const int nextMs =
        (shiftedMs - kTickAfterSecondMs + kStepMs) / kStepMs * kStepMs + kTickAfterSecondMs;
    m_timer->start(nextMs - shiftedMs + kEarlyTickMs);
}
