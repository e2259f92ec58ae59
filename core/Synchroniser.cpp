#include "core/Synchroniser.h"

#include "core/Clock.h"
#include "core/MainView.h"
#include "core/SettingsValues.h"
#include "core/TimeFrame.h"
#include "core/modINI.h"
#include "core/modVariables.h"
#include "platform/LineSettings.h"
#include "platform/SerialLink.h"

#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <limits>

namespace {

const QString kPortNotOpen = QStringLiteral("Port Not Open");
const QString kLastSyncAt = QStringLiteral("Last Sync at ");

QString invalidValue(const QString &section, const QString &key, const QString &value,
                     const QString &expected)
{
    return QStringLiteral("The settings file \"%1\" has an invalid value in section [%2], "
                          "key %3: \"%4\". %5")
        .arg(modINI::SettingsFilePath(), section, key, value, expected);
}

} // namespace

Synchroniser::Synchroniser(modVariables &settings, SerialLink &link, const Clock &clock,
                           MainView &view, QObject *parent)
    : QObject(parent), m_settings(settings), m_link(link), m_clock(clock), m_view(view),
      m_timer1(new QTimer(this)), m_timer2(new QTimer(this))
{
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(1000);
    connect(m_timer1, &QTimer::timeout, this, &Synchroniser::Timer1Tick);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(60000);
    connect(m_timer2, &QTimer::timeout, this, &Synchroniser::Timer2Tick);
}

Synchroniser::StartUpResult Synchroniser::startUp()
{
    m_view.setClockText(clockText(m_clock.now().time()));

    QString error;
    if (!readSettings(&error)) {
        m_view.showSettingsError(error);
        return StartUpResult::SettingsError;
    }
    m_timer1->start();
    m_timer2->start();

    if (!openPort() || !SendTimePacket())
        return StartUpResult::PortNotOpen;
    if (m_registrationCheck)
        m_registeredAtStartUp = m_registrationCheck();
    m_view.minimise();
    return StartUpResult::Synced;
}

bool Synchroniser::openPort()
{
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
    } else if (m_link.open(*device, line, &m_portError)) {
        m_portError.clear();
        return true;
    }
    reportPortNotOpen();
    return false;
}

void Synchroniser::suspend()
{
    m_timer2->stop();
    if (m_link.isOpen())
        m_link.close();
}

void Synchroniser::resume()
{
    m_timer2->start();
    if (openPort())
        SendTimePacket();
}

bool Synchroniser::readSettings(QString *error)
{
    const QString path = modINI::SettingsFilePath();
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("The settings file \"%1\" was not found. It must hold the keys "
                                "CommPort and Setting in section [Settings] and Interval in "
                                "section [Sync].")
                     .arg(path);
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

bool Synchroniser::SendTimePacket()
{
    // One reading for all three fields: reading the clock once per field can combine the
    // minute of one hour with the hour of the next.
    const QDateTime now = m_clock.now();
    if (!m_link.isOpen()) {
        reportPortNotOpen();
        return false;
    }
    if (!m_link.write(TimeFrame(now.time()), &m_portError)) {
        m_link.close();
        reportPortNotOpen();
        return false;
    }
    m_portError.clear();
    m_view.setStatusText(kLastSyncAt + QLocale().toString(now, QLocale::ShortFormat), QString());
    return true;
}

void Synchroniser::reportPortNotOpen()
{
    m_view.setStatusText(kPortNotOpen, m_portError);
}

void Synchroniser::cmdSyncClick()
{
    SendTimePacket();
}

void Synchroniser::Timer1Tick()
{
    m_view.setClockText(clockText(m_clock.now().time()));
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
    m_link.close();
}

QString Synchroniser::clockText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}
