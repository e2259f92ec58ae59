#include "core/MinuteSchedule.h"

#include <QTimer>
#include <limits>

MinuteSchedule::MinuteSchedule(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("Timer2"));
    m_timer->setInterval(60000);
    connect(m_timer, &QTimer::timeout, this, &MinuteSchedule::minutePassed);
}

void MinuteSchedule::setInterval(qint16 minutes)
{
    m_interval = minutes;
    m_count = 0;
}

void MinuteSchedule::start()
{
    m_timer->start();
}

void MinuteSchedule::stop()
{
    m_timer->stop();
}

void MinuteSchedule::minutePassed()
{
    // The count stops at its limit rather than wrapping round (possible only when the
    // interval is below 1 and no sync ever resets it).
    if (m_count < std::numeric_limits<qint16>::max())
        ++m_count;
    if (m_count == m_interval) {
        m_count = 0;
        emit due();
    }
}
