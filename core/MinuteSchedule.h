#pragma once

#include <QObject>

class QTimer;

/// The periodic sync: counts minutes and is due every `interval` of them. An interval
/// below 1 is never due.
class MinuteSchedule : public QObject
{
    Q_OBJECT
public:
    explicit MinuteSchedule(QObject *parent = nullptr);

    /// Sets the interval and starts counting from nothing.
    void setInterval(qint16 minutes);
    void start();
    void stop();
    /// One minute has passed: the timer's tick.
    void minutePassed();

    qint16 count() const { return m_count; }
    QTimer *timer() const { return m_timer; }

signals:
    void due();

private:
    QTimer *m_timer;
    qint16 m_interval = 0;
    qint16 m_count = 0; ///< minutes since the last periodic sync
};
