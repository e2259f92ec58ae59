#pragma once

#include <QDateTime>
#include <QObject>
#include <optional>

class Clock;

/// What the system tells of the PC clock's own synchronisation.
struct ClockSourceState
{
    bool synchronised = true; ///< kept in step with a time source (NTP, PTP, ...)
    qint64 estimatedErrorUs = 0;
};

/// Asks the system whether the PC clock is synchronised: on Linux adjtimex().
class ClockSource
{
public:
    virtual ~ClockSource();
    /// No value when the system does not tell.
    virtual std::optional<ClockSourceState> query() const = 0;
};

/// Watches the PC clock's synchronisation, so that the user learns when the display is set
/// from a clock that is itself adrift. Asks the system once a minute at the most.
class ClockWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMinIntervalNs = 60'000'000'000;

    /// `source` may be null: the system tells nothing.
    ClockWatch(const ClockSource *source, const Clock &clock, QObject *parent = nullptr);

    void setSource(const ClockSource *source) { m_source = source; }
    /// Off: the state is never asked for, and reported as synchronised.
    void setEnabled(bool enabled);
    /// Asks the system, unless it was asked less than a minute ago.
    void check();
    /// Since when the PC clock is not synchronised; invalid while it is (or nobody knows).
    QDateTime unsynchronisedSince() const { return m_since; }

signals:
    /// The state changed: `since` as unsynchronisedSince().
    void changed(const QDateTime &since);

private:
    void set(const QDateTime &since);

    const ClockSource *m_source;
    const Clock &m_clock;
    bool m_enabled = true;
    bool m_asked = false;
    qint64 m_lastAskNs = 0;
    QDateTime m_since;
};
