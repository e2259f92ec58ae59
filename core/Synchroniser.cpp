#include "core/Synchroniser.h"

#include "core/ClockTicker.h"
#include "core/ClockWatch.h"
#include "core/Log.h"
#include "core/MainView.h"
#include "core/MinuteSchedule.h"
#include "core/PortKeeper.h"

Synchroniser::Synchroniser(SerialLink &link, const Clock &clock, MainView &view,
                           FrameWriter::Threading threading, QObject *parent)
    : Synchroniser(link, clock, view, new FrameWriter(link, clock, threading), parent)
{}

Synchroniser::Synchroniser(SerialLink &link, const Clock &clock, MainView &view,
                           FrameWriterThread &writerThread, QObject *parent)
    : Synchroniser(link, clock, view, new FrameWriter(link, clock, writerThread), parent)
{}

Synchroniser::Synchroniser(SerialLink &link, const Clock &clock, MainView &view,
                           FrameWriter *writer, QObject *parent)
    : QObject(parent), m_view(view), m_port(new PortKeeper(link, clock, this)), m_writer(writer),
      m_ticker(new ClockTicker(clock, this)), m_schedule(new MinuteSchedule(this)),
      m_watch(new ClockWatch(nullptr, clock, this))
{
    m_writer->setParent(this);
    connect(m_ticker, &ClockTicker::secondChanged, this,
            [this](const QTime &time) { m_view.showClock(time); });
    // The display follows a step of the PC clock at once rather than at the next
    // scheduled sync.
    connect(m_ticker, &ClockTicker::stepped, this, &Synchroniser::syncNow);
    connect(m_ticker, &ClockTicker::ticked, this, [this] {
        m_watch->check(); // once a minute at the most
        if (m_port->dueForRetry()) {
            // Every ten seconds while the port stays away, whose reason was told once.
            qCDebug(lcSync) << "trying the port again";
            syncNow();
        }
    });
    connect(m_schedule, &MinuteSchedule::due, this, &Synchroniser::syncNow);
    connect(m_port, &PortKeeper::hungUp, this, &Synchroniser::closePort);
    connect(m_port, &PortKeeper::deviceReturned, this, &Synchroniser::syncNow);
    connect(m_writer, &FrameWriter::written, this, &Synchroniser::frameWritten);
    connect(m_writer, &FrameWriter::failed, this, &Synchroniser::closePort);
    connect(m_writer, &FrameWriter::schedulingSet, this,
            [this](bool realTime) { m_view.showWriterScheduling(realTime); });
    connect(m_watch, &ClockWatch::changed, this,
            [this](const QDateTime &since) { m_view.showPcClockState(since); });
}

void Synchroniser::setScheduling(ThreadScheduling *scheduling)
{
    m_writer->setScheduling(scheduling);
}

void Synchroniser::setDeviceWatch(DeviceWatch *watch)
{
    m_port->setDeviceWatch(watch);
}

void Synchroniser::setClockSource(const ClockSource *source)
{
    m_watch->setSource(source);
}

Synchroniser::~Synchroniser()
{
    m_writer->cancel();
}

Synchroniser::StartUpResult Synchroniser::start(const Settings &settings)
{
    qCInfo(lcSync).noquote() << "start-up: port" << settings.commPort << "line"
                             << settings.lineSettings << "interval" << settings.interval << "min";
    m_ticker->start();
    m_watch->setEnabled(settings.warnUnsynchronised);
    m_schedule->setInterval(settings.interval);
    m_schedule->start();
    m_port->setSettings(settings);
    m_port->setWanted(true);
    if (!openPort())
        return StartUpResult::PortNotOpen;
    m_startUpFrame = true;
    syncNow();
    return StartUpResult::Started;
}

bool Synchroniser::openPort()
{
    if (!m_port->open()) {
        reportPortNotOpen();
        return false;
    }
    m_writer->setFrameLineTimeNs(m_port->frameLineTimeNs());
    return true;
}

void Synchroniser::syncNow()
{
    // A port that failed to open or went away is tried again at every sync, unless the
    // settings dialog has it. A failed open tells the view itself.
    if (!m_port->isOpen()) {
        bool opened = false;
        if (m_port->mayOpen())
            opened = openPort();
        else
            reportPortNotOpen();
        if (!opened) {
            m_startUpFrame = false;
            return;
        }
    }
    m_writer->request();
}

void Synchroniser::suspend()
{
    m_schedule->stop();
    m_writer->cancel();
    m_startUpFrame = false;
    m_port->lend();
    reportPortNotOpen();
}

void Synchroniser::apply(const Settings &settings)
{
    m_writer->cancel();
    m_port->closeFor(QString());
    m_port->setSettings(settings);
    m_port->takeBack();
    m_port->setWanted(true);
    m_watch->setEnabled(settings.warnUnsynchronised);
    m_schedule->setInterval(settings.interval);
    m_schedule->start();
    syncNow();
}

void Synchroniser::shutDown()
{
    m_ticker->stop();
    m_schedule->stop();
    m_writer->cancel();
    m_port->setWanted(false);
    m_port->closeFor(QString());
}

void Synchroniser::closePort(const QString &reason)
{
    m_writer->cancel();
    m_startUpFrame = false;
    m_port->closeFor(reason);
    reportPortNotOpen();
}

void Synchroniser::frameWritten(const QDateTime &second)
{
    // A frame written just as the port was given up says nothing of the port now.
    if (!m_port->isOpen())
        return;
    m_view.showSynced(second);
    m_watch->check();
    if (m_startUpFrame) {
        m_startUpFrame = false;
        m_view.startUpSynced();
    }
}

void Synchroniser::reportPortNotOpen()
{
    if (m_port->isLent())
        m_view.showPortLent();
    else
        m_view.showPortNotOpen(m_port->reason());
}
