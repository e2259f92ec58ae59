#pragma once

#include "core/FrameWriter.h"
#include "core/Settings.h"
#include "core/SyncControl.h"

#include <QObject>

class ClockSource;
class FrameWriterThread;
class ThreadScheduling;
class ClockTicker;
class ClockWatch;
class Clock;
class DeviceWatch;
class MainView;
class MinuteSchedule;
class PortKeeper;
class SerialLink;

/// Keeps the display in step with the PC clock: at start-up, on request, every interval
/// minutes and whenever the PC clock is stepped, it has a frame written on the second,
/// and it tells the view how things stand. It joins the port keeper, the frame writer,
/// the clock ticker and the minute schedule.
class Synchroniser : public QObject, public SyncControl
{
    Q_OBJECT
public:
    enum class StartUpResult {
        Started,     ///< port open, first frame on its way; the view hears when it is written
        PortNotOpen, ///< the open failed; the view was told why
    };

    Synchroniser(SerialLink &link, const Clock &clock, MainView &view,
                 FrameWriter::Threading threading = FrameWriter::Threading::OwnThread,
                 QObject *parent = nullptr);
    /// Its frames are written by `writerThread`, which outlives it, with other displays'.
    Synchroniser(SerialLink &link, const Clock &clock, MainView &view,
                 FrameWriterThread &writerThread, QObject *parent = nullptr);
    ~Synchroniser() override;

    /// Starts with `settings`: the clock, the schedule, the port and the first frame.
    StartUpResult start(const Settings &settings);
    void begin(const Settings &settings) override { start(settings); }
    /// Asks for a frame. When the port is closed it is tried first; failing that, the view
    /// hears why.
    void syncNow() override;
    /// Lends the port to the settings dialog: the schedule stops, the port is closed.
    void suspend() override;
    /// Takes `settings` on: the port is opened with them (taken back from the dialog), the
    /// schedule starts counting again, and a frame is sent, so the view shows at once
    /// whether they work.
    void apply(const Settings &settings) override;
    /// Closes the port and stops everything.
    void shutDown() override;
    /// Where the system tells whether the PC clock is synchronised; none by default.
    void setClockSource(const ClockSource *source);
    /// Where the frame writer asks for real-time scheduling; null: it does not ask.
    void setScheduling(ThreadScheduling *scheduling);
    /// Where the port keeper watches for a device that went away; null: it does not watch.
    void setDeviceWatch(DeviceWatch *watch);

    PortKeeper &port() const { return *m_port; }
    FrameWriter &writer() const { return *m_writer; }
    ClockTicker &ticker() const { return *m_ticker; }
    MinuteSchedule &schedule() const { return *m_schedule; }
    ClockWatch &clockWatch() const { return *m_watch; }

private:
    Synchroniser(SerialLink &link, const Clock &clock, MainView &view, FrameWriter *writer,
                 QObject *parent);
    bool openPort();
    void reportPortNotOpen();
    void closePort(const QString &reason);
    void frameWritten(const QDateTime &second);

    MainView &m_view;
    PortKeeper *m_port;
    FrameWriter *m_writer;
    ClockTicker *m_ticker;
    MinuteSchedule *m_schedule;
    ClockWatch *m_watch;
    bool m_startUpFrame = false; ///< the waiting frame is start-up's first
};
