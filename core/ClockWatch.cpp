#include "core/ClockWatch.h"

#include "core/Clock.h"
#include "core/Log.h"

ClockSource::~ClockSource() = default;

ClockWatch::ClockWatch(const ClockSource *source, const Clock &clock, QObject *parent)
    : QObject(parent), m_source(source), m_clock(clock)
{}

void ClockWatch::setEnabled(bool enabled)
{
    m_enabled = enabled;
    m_asked = false;
    if (!enabled)
        set(QDateTime());
}

void ClockWatch::check()
{
    if (!m_enabled || !m_source)
        return;
    const qint64 monoNs = m_clock.monotonicNs();
    if (m_asked && monoNs - m_lastAskNs < kMinIntervalNs)
        return;
    m_asked = true;
    m_lastAskNs = monoNs;
    const std::optional<ClockSourceState> state = m_source->query();
    if (!state || state->synchronised) {
        if (m_since.isValid())
            qCInfo(lcSync) << "the PC clock is synchronised to a time source again";
        set(QDateTime());
    } else if (!m_since.isValid()) {
        qCWarning(lcSync).noquote()
            << "the PC clock is not synchronised to a time source (estimated error"
            << state->estimatedErrorUs << "us); the display follows it all the same";
        set(m_clock.now());
    }
}

void ClockWatch::set(const QDateTime &since)
{
    if (since.isValid() == m_since.isValid())
        return;
    m_since = since;
    emit changed(since);
}
