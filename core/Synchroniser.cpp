#include "core/Synchroniser.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainView.h"
#include "core/SettingsValues.h"
#include "core/SyncSlot.h"
#include "core/TimeFrame.h"
#include "core/modINI.h"
#include "core/modVariables.h"
#include "platform/LineSettings.h"
#include "platform/SafeFile.h"
#include "platform/SerialLink.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <thread>

namespace {

const QString kPortNotOpen = QStringLiteral("Port Not Open");
const QString kLastSyncAt = QStringLiteral("Last Sync at ");
const QString kSettingsOpen = QStringLiteral("Settings open: port closed");
const QString kSettingsOpenDetail =
    QStringLiteral("The settings dialog has the port. Closing the dialog opens it again and "
                   "sends a frame.");

constexpr qint64 kNsPerMs = 1'000'000;
/// The slot's timer is set this much before the write, which then waits out the rest: a
/// timer of the event loop often wakes a few milliseconds late.
constexpr qint64 kLeadNs = 10 * kNsPerMs;
/// The last stretch before the write is waited out busily ...
constexpr qint64 kBusyWaitNs = 1 * kNsPerMs;
/// ... for this long at the most.
constexpr qint64 kMaxBusyWaitNs = 3 * kNsPerMs;
/// A step of the PC clock against the monotonic clock of this much or more is followed at
/// once; a time server's slewing stays far below it (0.5 ms a second at the most).
constexpr qint64 kStepLimitNs = 50 * kNsPerMs;
/// Timer1 ticks this long after the change of second, and half a second later to look
/// for jumps of the PC clock ...
constexpr int kTickAfterSecondMs = 1;
constexpr int kTicksPerSecond = 2;
/// ... and a tick up to this long before its moment counts as on time.
constexpr int kEarlyTickMs = 50;

/// `text` with its control characters shown as \xHH, so that a message shows them all.
QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString invalidValue(const QString &section, const QString &key, const QString &value,
                     const QString &expected)
{
    return QStringLiteral("The settings file \"%1\" has an invalid value in section [%2], "
                          "key %3: \"%4\". %5")
        .arg(modINI::SettingsFilePath(), section, key, printable(value), expected);
}

} // namespace

Synchroniser::Synchroniser(modVariables &settings, SerialLink &link, const Clock &clock,
                           MainView &view, QObject *parent)
    : QObject(parent), m_settings(settings), m_link(link), m_clock(clock), m_view(view),
      m_timer1(new QTimer(this)), m_timer2(new QTimer(this)), m_syncTimer(new QTimer(this)),
      m_deviceWatch(new QFileSystemWatcher(this))
{
    m_link.setHangUpHandler([this](const QString &reason) { portHungUp(reason); });
    connect(m_deviceWatch, &QFileSystemWatcher::directoryChanged, this,
            &Synchroniser::deviceFolderChanged);
    // Timer1 is re-armed at every tick for just after the next change of second: a
    // repeating one-second timer drifts against the PC clock and now and then skips or
    // repeats a second.
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setSingleShot(true);
    m_timer1->setTimerType(Qt::PreciseTimer);
    connect(m_timer1, &QTimer::timeout, this, &Synchroniser::Timer1Tick);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(60000);
    connect(m_timer2, &QTimer::timeout, this, &Synchroniser::Timer2Tick);
    m_syncTimer->setObjectName(QStringLiteral("syncTimer"));
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setTimerType(Qt::PreciseTimer);
    connect(m_syncTimer, &QTimer::timeout, this, &Synchroniser::writeDueFrames);
}

Synchroniser::StartUpResult Synchroniser::startUp()
{
    const QDateTime now = m_clock.now();
    m_shownText = clockText(now.time());
    m_view.setClockText(m_shownText);

    QString error;
    if (!readSettings(&error)) {
        qCInfo(lcSync) << "start-up stopped:" << error;
        m_view.showSettingsError(error);
        return StartUpResult::SettingsError;
    }
    qCInfo(lcSync).noquote() << "start-up: settings" << modINI::SettingsFilePath() << "port"
                             << m_settings.CommPortText << "line" << m_settings.PortSettings
                             << "interval" << m_settings.SyncInterval << "min";
    // Both clocks are read together, after the settings: a slow start-up is no step.
    noteClocks(m_clock.wallNs(), m_clock.monotonicNs());
    armTimer1(now);
    m_timer2->start();

    m_portWanted = true;
    if (!openPort())
        return StartUpResult::PortNotOpen;
    m_startUpFrame = true;
    SendTimePacket();
    return StartUpResult::Started;
}

bool Synchroniser::openPort()
{
    m_lastOpenAttemptNs = m_clock.monotonicNs();
    LineSettings line;
    QString lineError;
    const std::optional<QString> device = SettingsValues::portDevice(m_settings.CommPortText);
    if (!LineSettings::parse(m_settings.PortSettings, &line, &lineError)) {
        m_portError = QStringLiteral("The port cannot be opened: %1.").arg(lineError);
    } else if (!device) {
        m_portError = QStringLiteral("\"%1\" names no serial port.").arg(m_settings.CommPortText);
    } else if (device->isEmpty()) {
        m_portError = QStringLiteral("No serial port has the number %1.")
                          .arg(m_settings.CommPortText.trimmed());
    } else if (m_device = *device; m_link.open(*device, line, &m_portError)) {
        qCInfo(lcSync).noquote() << "port open:" << *device << m_settings.PortSettings;
        m_portError.clear();
        watchForDevice(QString());
        m_lineTimeNs = qint64(TimeFrame(QTime(0, 0)).size() * line.bitsPerCharacter() *
                              1'000'000'000.0 / line.baudRate);
        return true;
    }
    qCInfo(lcSync).noquote() << "open failed:" << m_portError;
    watchForDevice(m_device);
    reportPortNotOpen();
    return false;
}

void Synchroniser::portHungUp(const QString &reason)
{
    if (!m_link.isOpen())
        return;
    qCInfo(lcSync).noquote() << "hang-up, port closed:" << reason;
    m_link.close();
    m_syncTimer->stop();
    m_pendingFrames = 0;
    m_startUpFrame = false;
    m_portError = reason;
    watchForDevice(m_device);
    reportPortNotOpen();
}

void Synchroniser::watchForDevice(const QString &device)
{
    const QStringList watched = m_deviceWatch->directories();
    if (!watched.isEmpty())
        m_deviceWatch->removePaths(watched);
    if (device.isEmpty())
        return;
    // The folder the device appears in again (/dev, /dev/serial/by-id, the folder of a
    // link), or the nearest one above it that exists.
    for (QFileInfo folder(QFileInfo(device).absolutePath()); !folder.filePath().isEmpty();
         folder = QFileInfo(folder.absolutePath())) {
        if (folder.isDir()) {
            m_deviceWatch->addPath(folder.filePath());
            return;
        }
        if (folder.isRoot())
            return;
    }
}

void Synchroniser::deviceFolderChanged()
{
    if (m_link.isOpen() || !m_portWanted || m_suspended || m_device.isEmpty() ||
        !QFileInfo::exists(m_device))
        return;
    qCInfo(lcSync).noquote() << m_device << "appeared: reconnecting";
    SendTimePacket(); // opens the port
}

bool Synchroniser::reopenPort()
{
    // A port that failed to open or went away is tried again at every sync, unless the
    // settings dialog has it.
    if (m_portWanted && !m_suspended)
        return openPort(); // reports a failure itself
    reportPortNotOpen();
    return false;
}

void Synchroniser::suspend()
{
    m_suspended = true;
    m_timer2->stop();
    m_syncTimer->stop();
    m_pendingFrames = 0;
    m_startUpFrame = false;
    if (m_link.isOpen())
        m_link.close();
    reportPortNotOpen();
}

void Synchroniser::resume()
{
    m_suspended = false;
    m_portWanted = true;
    m_timer2->start();
    SendTimePacket(); // opens the port
}

bool Synchroniser::readSettings(QString *error)
{
    const QString path = modINI::SettingsFilePath();
    if (QString reason; !SafeFile::read(path, nullptr, &reason)) {
        *error = QStringLiteral("The settings file \"%1\" %2. It must hold the keys CommPort and "
                                "Setting in section [Settings] and Interval in section [Sync].")
                     .arg(path, reason);
        return false;
    }
    const QString commPort =
        modINI::ReadINI(QStringLiteral("Settings"), QStringLiteral("CommPort"));
    const QString portSettings =
        modINI::ReadINI(QStringLiteral("Settings"), QStringLiteral("Setting"));
    const QString interval = modINI::ReadINI(QStringLiteral("Sync"), QStringLiteral("Interval"));

    const auto minutes = SettingsValues::parseInt16(interval);
    if (!minutes) {
        *error = invalidValue(QStringLiteral("Sync"), QStringLiteral("Interval"), interval,
                              QStringLiteral("It must be a whole number of minutes from "
                                             "-32768 to 32767."));
        return false;
    }
    if (!SettingsValues::portDevice(commPort)) {
        *error = invalidValue(QStringLiteral("Settings"), QStringLiteral("CommPort"), commPort,
                              QStringLiteral("It must be a port number such as 1, or a device "
                                             "path."));
        return false;
    }
    QString lineError;
    if (!LineSettings::parse(portSettings, nullptr, &lineError)) {
        *error = invalidValue(
            QStringLiteral("Settings"), QStringLiteral("Setting"), portSettings,
            QStringLiteral("It must be line settings such as 9600,N,8,1: %1.").arg(lineError));
        return false;
    }
    m_settings.CommPortText = commPort;
    m_settings.PortSettings = portSettings;
    m_settings.SyncInterval = *minutes;
    return true;
}

void Synchroniser::SendTimePacket()
{
    if (!m_link.isOpen() && !reopenPort()) {
        m_startUpFrame = false;
        return;
    }
    if (++m_pendingFrames == 1)
        armSlot();
}

void Synchroniser::armSlot()
{
    const qint64 wallNow = m_clock.wallNs();
    const qint64 monoNow = m_clock.monotonicNs();
    const SyncSlot slot = nextSyncSlot(wallNow, m_lineTimeNs, kLeadNs);
    m_pendingSecond = slot.second;
    m_writeAtNs = monoNow + slot.delayNs;
    m_plannedClockNs = wallNow - monoNow;
    // The timer wakes a little early; writeDueFrames() waits out the rest to the
    // microsecond, which a timer of whole milliseconds cannot do.
    m_syncTimer->start(int(std::max<qint64>(0, slot.delayNs - kLeadNs) / kNsPerMs));
}

qint64 Synchroniser::nsUntilWrite() const
{
    return m_writeAtNs - m_clock.monotonicNs();
}

void Synchroniser::writeDueFrames()
{
    if (m_pendingFrames == 0)
        return;
    // Sleep through most of what is left, then wait out the last stretch busily: a long
    // busy wait makes the scheduler hand the processor to others just as the write is due.
    const qint64 remainingNs = m_writeAtNs - m_clock.monotonicNs();
    if (remainingNs > kBusyWaitNs)
        std::this_thread::sleep_for(
            std::chrono::nanoseconds(std::min(remainingNs - kBusyWaitNs, kLeadNs)));
    QElapsedTimer guard;
    guard.start();
    while (m_clock.monotonicNs() < m_writeAtNs && guard.nsecsElapsed() < kMaxBusyWaitNs) {
    }
    const qint64 monoNow = m_clock.monotonicNs();
    if (monoNow < m_writeAtNs) { // woken far too early: wait on
        m_syncTimer->start(int(std::max<qint64>(0, nsUntilWrite() - kLeadNs) / kNsPerMs));
        return;
    }
    // The slot is planned again when the frame would no longer set the display right:
    // the write was woken too late (the computer was busy or asleep), or the PC clock was
    // set while the frame waited (by hand, by a time server, or the computer slept).
    const qint64 lateNs = monoNow - m_writeAtNs;
    const qint64 clockSetNs = m_clock.wallNs() - monoNow - m_plannedClockNs;
    if (lateNs > kLateLimitNs || std::abs(clockSetNs) > kLateLimitNs) {
        qCInfo(lcSync) << "write woken" << lateNs / kNsPerMs << "ms late, PC clock set by"
                       << clockSetNs / kNsPerMs << "ms: planning the slot again";
        armSlot();
        return;
    }
    const QByteArray frames = TimeFrame(m_pendingSecond.time()).repeated(m_pendingFrames);
    m_pendingFrames = 0;
    if (!m_link.write(frames, &m_portError)) {
        qCInfo(lcSync).noquote() << "write failed, port closed:" << m_portError;
        m_link.close();
        m_startUpFrame = false;
        watchForDevice(m_device);
        reportPortNotOpen();
        return;
    }
    qCInfo(lcSync).noquote() << "sent" << frames.toHex(' ') << "for"
                             << m_pendingSecond.toString(Qt::ISODate) << "write started"
                             << lateNs / 1000 << "us after its moment, done after"
                             << (m_clock.monotonicNs() - m_writeAtNs) / 1000 << "us";
    m_portError.clear();
    m_view.setStatusText(kLastSyncAt + syncTimeText(m_pendingSecond, QLocale()), QString());
    if (m_startUpFrame) {
        m_startUpFrame = false;
        if (m_registrationCheck)
            m_registeredAtStartUp = m_registrationCheck();
        m_view.minimise();
    }
}

void Synchroniser::reportPortNotOpen()
{
    if (m_suspended)
        m_view.setStatusText(kSettingsOpen, kSettingsOpenDetail);
    else
        m_view.setStatusText(kPortNotOpen, m_portError);
}

void Synchroniser::cmdSyncClick()
{
    SendTimePacket();
}

qint64 Synchroniser::noteClocks(qint64 wallNs, qint64 monoNs)
{
    // Local time, so that a daylight-saving change counts as the step it is for the
    // display.
    const qint64 offsetNs =
        qint64(QDateTime::fromMSecsSinceEpoch(wallNs / kNsPerMs).offsetFromUtc()) * 1000 * kNsPerMs;
    const qint64 localNs = wallNs + offsetNs;
    const qint64 stepNs = localNs - (m_lastTickLocalNs + (monoNs - m_lastTickMonoNs));
    m_lastTickLocalNs = localNs;
    m_lastTickMonoNs = monoNs;
    return stepNs;
}

void Synchroniser::Timer1Tick()
{
    const qint64 wallNs = m_clock.wallNs();
    const qint64 monoNow = m_clock.monotonicNs();
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(wallNs / kNsPerMs);
    // A tick that comes a little before the change of second shows the second it was for.
    const QString text = clockText(now.addMSecs(kEarlyTickMs).time());
    if (text != m_shownText) {
        m_shownText = text;
        m_view.setClockText(text);
    }

    // The PC clock jumped (set by hand or by a time server, a daylight-saving change, a
    // resume from sleep) when it moved otherwise than the monotonic clock: the display
    // is to follow at once rather than at the next scheduled sync.
    if (const qint64 stepNs = noteClocks(wallNs, monoNow); std::abs(stepNs) >= kStepLimitNs) {
        qCInfo(lcSync) << "the PC clock was stepped by" << stepNs / 1000 << "us: sync";
        SendTimePacket();
    }

    if (!m_link.isOpen() && m_portWanted && !m_suspended &&
        monoNow - m_lastOpenAttemptNs >= kReconnectSeconds * 1000 * kNsPerMs) {
        qCInfo(lcSync) << "reconnecting";
        SendTimePacket(); // opens the port
    }
    armTimer1(now);
}

void Synchroniser::armTimer1(const QDateTime &now)
{
    // The moments are kTickAfterSecondMs and half a second later. Shifted by
    // kEarlyTickMs, a tick that came a little early counts as the one it was aimed at.
    constexpr int kStepMs = 1000 / kTicksPerSecond;
    const int shiftedMs = now.addMSecs(kEarlyTickMs).time().msec();
    const int nextMs =
        (shiftedMs - kTickAfterSecondMs + kStepMs) / kStepMs * kStepMs + kTickAfterSecondMs;
    m_timer1->start(nextMs - shiftedMs + kEarlyTickMs);
}

void Synchroniser::Timer2Tick()
{
    // The count stops at its limit rather than wrapping round (possible only when the
    // interval is below 1 and no synchronisation ever resets it).
    if (m_settings.MinuteCount < std::numeric_limits<qint16>::max())
        ++m_settings.MinuteCount;
    if (m_settings.MinuteCount == m_settings.SyncInterval) {
        SendTimePacket();
        m_settings.MinuteCount = 0;
    }
}

void Synchroniser::shutDown()
{
    m_timer1->stop();
    m_timer2->stop();
    m_syncTimer->stop();
    m_pendingFrames = 0;
    m_portWanted = false;
    watchForDevice(QString());
    m_link.close();
}

QString Synchroniser::syncTimeText(const QDateTime &time, const QLocale &locale)
{
    // The locale's long time format holds the seconds; its time zone is left out, as the
    // short format leaves it out.
    QString format;
    bool quoted = false;
    for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            format += c;
    }
    return locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(time.time(), format.simplified());
}

QString Synchroniser::clockText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}
