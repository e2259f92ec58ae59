#include "core/ServiceFace.h"

#include "core/ClockTicker.h"
#include "core/Reason.h"

#include <QDateTime>

#include <utility>

namespace {

QByteArray timeWord(const QDateTime &time)
{
    return time.isValid() ? QByteArray::number(time.toMSecsSinceEpoch()) : QByteArray("-");
}

/// The time a word names; invalid for "-" and for what is no number.
QDateTime timeOf(const QByteArray &word)
{
    bool ok = false;
    const qint64 ms = word.toLongLong(&ok);
    return ok ? QDateTime::fromMSecsSinceEpoch(ms) : QDateTime();
}

QString textOf(const QByteArray &word)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(word));
}

} // namespace

bool ViewLines::replay(const QByteArray &line, MainView &view)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = space < 0 ? line : line.left(space);
    const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1);
    if (verb == "synced" && timeOf(rest).isValid())
        view.showSynced(timeOf(rest));
    else if (verb == "notopen")
        view.showPortNotOpen(textOf(rest));
    else if (verb == "reason")
        Reason::fromDescription(QByteArray::fromPercentEncoding(rest)); // the next line's
    else if (verb == "lent" && rest.isEmpty())
        view.showPortLent();
    else if (verb == "started" && rest.isEmpty())
        view.startUpSynced();
    else if (verb == "pcclock" && (rest == "-" || timeOf(rest).isValid()))
        view.showPcClockState(timeOf(rest));
    else if (verb == "realtime" && (rest == "1" || rest == "0"))
        view.showWriterScheduling(rest == "1");
    else
        return false;
    return true;
}

ViewRecorder::ViewRecorder(MainView &inner, std::function<void(const QByteArray &)> tell)
    : m_inner(inner), m_tell(std::move(tell))
{}

QByteArray ViewRecorder::state() const
{
    // Start-up's frame before the state of the port, as it happened.
    QByteArray lines;
    for (const QByteArray *line : {&m_started, &m_port, &m_pcClock, &m_scheduling}) {
        if (!line->isEmpty())
            lines += *line + '\n';
    }
    return lines;
}

void ViewRecorder::record(QByteArray *slot, const QByteArray &line)
{
    *slot = line;
    m_tell(line + '\n');
}

void ViewRecorder::showClock(const QTime &time)
{
    // A watcher runs a clock of its own.
    m_inner.showClock(time);
}

void ViewRecorder::showSynced(const QDateTime &second)
{
    m_inner.showSynced(second);
    record(&m_port, "synced " + timeWord(second));
}

void ViewRecorder::showPortNotOpen(const QString &reason)
{
    m_inner.showPortNotOpen(reason);
    // How the reason was made goes first, so that the window says it in its user's
    // language.
    const QByteArray making = Reason::describe(reason);
    record(&m_port,
           (making.isEmpty() ? QByteArray() : "reason " + making.toPercentEncoding() + '\n') +
               "notopen " + reason.toUtf8().toPercentEncoding(" "));
}

void ViewRecorder::showPortLent()
{
    m_inner.showPortLent();
    record(&m_port, "lent");
}

void ViewRecorder::startUpSynced()
{
    m_inner.startUpSynced();
    record(&m_started, "started");
}

void ViewRecorder::showPcClockState(const QDateTime &unsynchronisedSince)
{
    m_inner.showPcClockState(unsynchronisedSince);
    record(&m_pcClock, "pcclock " + timeWord(unsynchronisedSince));
}

void ViewRecorder::showWriterScheduling(bool realTime)
{
    m_inner.showWriterScheduling(realTime);
    record(&m_scheduling, realTime ? "realtime 1" : "realtime 0");
}

ServiceChannel::ServiceChannel(QObject *parent) : QObject(parent), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(2000);
    connect(m_retry, &QTimer::timeout, this, [this] { open(); });
}

void ServiceChannel::takeLine(const QByteArray &line)
{
    if (!m_answered) {
        m_answered = true;
        m_lostTold = false;
        return;
    }
    emit received(line);
}

void ServiceChannel::lose()
{
    close();
    if (!m_lostTold) {
        m_lostTold = true;
        emit lost();
    }
    m_retry->start();
}

void ServiceChannel::restart()
{
    m_retry->stop();
    m_answered = false;
}

ServiceFace::ServiceFace(ServiceChannel &channel, const Clock &clock, MainView &view,
                         QObject *parent)
    : QObject(parent), m_channel(channel), m_view(view), m_ticker(new ClockTicker(clock, this))
{
    connect(m_ticker, &ClockTicker::secondChanged, this,
            [this](const QTime &time) { m_view.showClock(time); });
    connect(&m_channel, &ServiceChannel::received, this, &ServiceFace::receive);
    connect(&m_channel, &ServiceChannel::lost, this, [this] {
        m_connected = false;
        m_view.showPortNotOpen(QStringLiteral(
            "The service has stopped; this window shows it again as soon as it runs."));
    });
}

void ServiceFace::begin(const Settings &)
{
    m_ticker->start();
    m_channel.open();
}

void ServiceFace::receive(const QByteArray &line)
{
    if (line.startsWith("may ")) {
        m_connected = true;
        m_refusal = line == "may 1" ? QString() : textOf(line.mid(6));
        if (line != "may 1" && m_refusal.isEmpty())
            m_refusal = QStringLiteral("You may not change what the service does.");
        return;
    }
    // Start-up gives way to the icon once: a service started again says it again, and
    // a window the user has brought forward stays.
    if (line == "started" && std::exchange(m_startUpShown, true))
        return;
    ViewLines::replay(line, m_view);
}

void ServiceFace::syncNow()
{
    if (!m_refusal.isEmpty())
        emit refused(m_refusal);
    else if (m_connected)
        m_channel.send("sync");
}

void ServiceFace::apply(const Settings &)
{
    // The dialog has stored the settings; the service reads them as it reads them on SIGHUP.
    if (m_connected && m_refusal.isEmpty())
        m_channel.send("reload");
}

void ServiceFace::shutDown()
{
    m_ticker->stop();
    m_channel.close();
}
