#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGTERM, SIGINT and SIGHUP (a log-out, systemd stopping the program, Ctrl+C, a
/// closed terminal) into a Qt signal delivered by the event loop, so that the program
/// closes its port and ends normally instead of dying with the signal. One instance at
/// most; elsewhere than on Unix it never fires.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    /// One of the signals arrived; `signal` is its number. Signals that arrive while the
    /// program is busy are told once: SIGTERM or SIGINT alone when either came, else one
    /// SIGHUP for any number of them.
    void received(int signal);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
