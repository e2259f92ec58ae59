#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

/// What the core tells the window: what happened, never ready-made texts. The window
/// implements it; tests record it.
class MainView
{
public:
    virtual ~MainView() = default;

    /// The PC clock reached a new second.
    virtual void showClock(const QTime &time) = 0;
    /// A frame carrying `second` reached the port.
    virtual void showSynced(const QDateTime &second) = 0;
    /// The port is not open, for `reason` (empty when there is none to give).
    virtual void showPortNotOpen(const QString &reason) = 0;
    /// The settings dialog has the port: it is closed until the dialog is.
    virtual void showPortLent() = 0;
    /// Start-up's first frame was written: the window may give way.
    virtual void startUpSynced() = 0;
    /// The PC clock is not synchronised to a time source since `since`; invalid: it is, or
    /// nobody can tell, or the warning is off.
    virtual void showPcClockState(const QDateTime &unsynchronisedSince) = 0;
    /// The frames are written at real-time priority or not (the log says how, or why
    /// not). Views that have no place for it ignore it.
    virtual void showWriterScheduling(bool realTime) { Q_UNUSED(realTime); }
};
