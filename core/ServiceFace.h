#pragma once

#include "core/MainView.h"
#include "core/SyncControl.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class Clock;
class ClockTicker;

/// A view's events as lines of text, for a view in another process: the service tells
/// them to the windowed program that shows it. "synced MS", "notopen REASON" (after
/// "reason MAKING", how it was made, where it is known: see Reason::describe), "lent",
/// "started", "pcclock MS" or "pcclock -", "realtime 1|0"; MS counts milliseconds since
/// 1970 UTC and a text is percent-encoded, so a line never holds a line end of its own.
namespace ViewLines {

/// The longest line either side reads; a longer one ends the connection.
constexpr int kMaxLine = 4096;

/// Plays `line` (without its line end) to `view`. False when it is none of the above.
bool replay(const QByteArray &line, MainView &view);

} // namespace ViewLines

/// A view that tells what it is shown as lines (to the service's watchers) and passes it
/// on to `inner`. It keeps the state, so that a watcher who comes later hears it whole.
class ViewRecorder : public MainView
{
public:
    ViewRecorder(MainView &inner, std::function<void(const QByteArray &line)> tell);

    /// The lines that bring a new watcher to the present state, each with its line end.
    QByteArray state() const;

    void showClock(const QTime &time) override;
    void showSynced(const QDateTime &second) override;
    void showPortNotOpen(const QString &reason) override;
    void showPortLent() override;
    void startUpSynced() override;
    void showPcClockState(const QDateTime &unsynchronisedSince) override;
    void showWriterScheduling(bool realTime) override;

private:
    void record(QByteArray *slot, const QByteArray &line);

    MainView &m_inner;
    std::function<void(const QByteArray &)> m_tell;
    QByteArray m_port;       ///< the last synced, notopen or lent line
    QByteArray m_started;    ///< "started" once start-up's frame went out
    QByteArray m_pcClock;    ///< the last pcclock line
    QByteArray m_scheduling; ///< the last realtime line
};

/// The windowed program's line to the service that runs for its settings file. The
/// platform connects, reconnects while the program runs, and checks who answers.
class ServiceChannel : public QObject
{
    Q_OBJECT
public:
    explicit ServiceChannel(QObject *parent = nullptr);

    /// Connects and asks for the service's state; received() brings it.
    virtual void open() = 0;
    /// Sends one request ("sync", "reload") without its line end.
    virtual void send(const QByteArray &request) = 0;
    virtual void close() = 0;

signals:
    /// A line from the service, without its line end. The first of each connection is
    /// "may 1", or "may 0 WHY" for a user who may watch but not change.
    void received(const QByteArray &line);
    /// The service went away; the channel connects again on its own.
    void lost();

protected:
    /// A line a connection brought, without its line end: the instance's answer to each
    /// connection comes first and is not the service's; the rest is received().
    void takeLine(const QByteArray &line);
    /// The connection went away or never answered: it is closed, lost() is told once until
    /// a connection is answered again, and open() is tried again 2 s later.
    void lose();
    /// A new connection, or none: what comes next is the instance's answer, and no retry
    /// is waiting.
    void restart();

private:
    QTimer *m_retry;
    bool m_answered = false;
    bool m_lostTold = false;
};

/// The window's synchronisation when a service runs for the same settings file: it shows
/// what the service does and, for a user who may change the settings, asks it for a frame
/// and to read the settings again once the dialog has stored them.
class ServiceFace : public QObject, public SyncControl
{
    Q_OBJECT
public:
    ServiceFace(ServiceChannel &channel, const Clock &clock, MainView &view,
                QObject *parent = nullptr);

    /// Why this user may not change what the service does; empty when they may.
    QString refusal() const { return m_refusal; }
    ClockTicker &ticker() const { return *m_ticker; }

    void begin(const Settings &settings) override;
    void syncNow() override;
    void suspend() override {}
    void apply(const Settings &settings) override;
    void shutDown() override;

signals:
    /// The user asked for what the service does not take from them.
    void refused(const QString &why);

private:
    void receive(const QByteArray &line);

    ServiceChannel &m_channel;
    MainView &m_view;
    ClockTicker *m_ticker;
    QString m_refusal;
    bool m_connected = false;
    bool m_startUpShown = false; ///< the service's start-up frame was shown
};
