#include "ui/frmMain.h"

#include "core/ServiceFace.h"
#include "core/Synchroniser.h"
#include "platform/RunOnWSU.h"
#include "ui/AccessibleLabel.h"
#include "ui/ClockIcon.h"
#include "ui/MessageBox.h"
#include "ui/Translations.h"
#include "ui/Twips.h"
#include "ui/frmSetting.h"
#include "ui/modSysTray.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <cstdio>
#include <iterator>

namespace {

const char *const kSettingsOpenDetail =
    QT_TRANSLATE_NOOP("frmMain", "The settings dialog has the port. Closing the dialog opens it "
                                 "again and sends a frame.");

/// When to look again for a notification area that was missing at start-up: a few times
/// in the first minute, each wait after the one before.
constexpr int kTrayCheckDelaysMs[] = {1000, 2000, 4000, 8000, 15000, 30000};

/// Shrinks `font` until `sample` fits `width` pixels; a substitute font may be wider.
QFont fitted(QFont font, const QString &sample, int width)
{
    while (QFontMetrics(font).horizontalAdvance(sample) > width && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

} // namespace

/// Makes the synchronisation the window drives: its own, or the face of a service.
SyncControl *frmMain::makeControl()
{
    if (m_parts.service) {
        m_face = new ServiceFace(*m_parts.service, m_parts.clock, *this, this);
        connect(m_face, &ServiceFace::refused, this,
                [this](const QString &why) { m_parts.messageBoxes.information(this, why); });
        return m_face;
    }
    m_core = new Synchroniser(m_parts.link, m_parts.clock, *this, m_parts.threading, this);
    m_core->setClockSource(m_parts.clockSource);
    m_core->setScheduling(m_parts.scheduling);
    m_core->setDeviceWatch(m_parts.deviceWatch);
    return m_core;
}

frmMain::frmMain(const WindowParts &parts, QWidget *parent)
    : QMainWindow(parent), m_parts(parts), m_control(makeControl())
{
    setObjectName(QStringLiteral("frmMain"));
    // The face of a service says so in its caption, on the taskbar too.
    setWindowTitle(m_face ? tr("KV7R/9R Orvantide (service)")
                          : QStringLiteral("KV7R/9R Orvantide"));
    setWindowIcon(clockIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    buildControls();
    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_tray = new modSysTray(windowIcon(), m_popup, m_parts.trayAvailable, this);
    connect(m_tray, &modSysTray::restoreRequested, this, &frmMain::restore);
    m_trayCheck = new QTimer(this);
    m_trayCheck->setObjectName(QStringLiteral("trayCheck"));
    m_trayCheck->setSingleShot(true);
    connect(m_trayCheck, &QTimer::timeout, this, &frmMain::lookForTrayAgain);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(3990 / Twips::kPerPixel, 1320 / Twips::kPerPixel);
    client->setAutoFillBackground(true);
    QPalette background = client->palette();
    background.setColor(QPalette::Window, QColor(192, 192, 255));
    client->setPalette(background);
    setCentralWidget(client);

    m_lblClk = new QLabel(client);
    m_lblClk->setObjectName(QStringLiteral("lblClk"));
    AccessibleLabel::readAsText(m_lblClk); // before anything makes its interface
    m_lblClk->setAccessibleName(tr("Clock"));
    m_lblClk->setGeometry(Twips::rect(120, 240, 2055, 495));
    m_lblClk->setAlignment(Qt::AlignCenter);
    m_lblClk->setFrameShape(QFrame::Box);
    m_lblClk->setLineWidth(1);
    m_lblClk->setAutoFillBackground(true);
    QPalette clockColours = m_lblClk->palette();
    clockColours.setColor(QPalette::Window, Qt::black);
    clockColours.setColor(QPalette::WindowText, Qt::red);
    m_lblClk->setPalette(clockColours);
    m_lblClk->setFont(fitted(Twips::font(QStringLiteral("MS Serif"), QFont::Serif, 24, true),
                             QStringLiteral("00:00:00"), m_lblClk->width() - 4));

    const QFont tahoma = Twips::font(QStringLiteral("Tahoma"), QFont::SansSerif, 8.25, false);

    m_cmdSync = new QPushButton(tr("SYNC NOW"), client);
    m_cmdSync->setObjectName(QStringLiteral("cmdSync"));
    m_cmdSync->setGeometry(Twips::rect(2520, 240, 1215, 495));
    m_cmdSync->setFont(tahoma);
    connect(m_cmdSync, &QPushButton::clicked, this, [this] { m_control->syncNow(); });

    m_lblStamp = new QLabel(client);
    m_lblStamp->setObjectName(QStringLiteral("lblStamp"));
    AccessibleLabel::readAsText(m_lblStamp); // before anything makes its interface
    m_lblStamp->setAccessibleName(tr("Status"));
    m_lblStamp->setGeometry(Twips::rect(120, 960, 3615, 255));
    QFont stampFont = tahoma;
    stampFont.setBold(true);
    m_lblStamp->setFont(stampFont);
    QPalette stampColours = m_lblStamp->palette();
    stampColours.setColor(QPalette::WindowText, Qt::white);
    m_lblStamp->setPalette(stampColours);

    // Holds the picture of the notification icon; it lies below the visible client area,
    // and is hidden, so that nobody (a screen reader neither) meets it there.
    auto *image = new QLabel(client);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(Twips::rect(720, 1920, 480, 480));
    image->setPixmap(clockPixmap(32));
    image->hide();
}

void frmMain::buildMenus()
{
    // Alt+S opens the settings; F10 takes the keyboard to the menu bar, where Enter does.
    auto *setting = new QAction(tr("&Setting"), this);
    setting->setObjectName(QStringLiteral("mnuSetting"));
    connect(setting, &QAction::triggered, this, &frmMain::mnuSettingClick);
    menuBar()->addAction(setting);
    auto *toMenuBar = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(toMenuBar, &QShortcut::activated, this, [this, setting] {
        menuBar()->setFocus(Qt::ShortcutFocusReason);
        menuBar()->setActiveAction(setting);
    });

    m_popup = new QMenu(QStringLiteral("SysTray"), this);
    m_popup->setObjectName(QStringLiteral("mPopupSys"));
    auto *restore = m_popup->addAction(tr("Restore"));
    restore->setObjectName(QStringLiteral("mnuRestore"));
    connect(restore, &QAction::triggered, this, &frmMain::restore);
    auto *exit = m_popup->addAction(tr("Exit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
}

bool frmMain::load()
{
    const SettingsLoad loaded = SettingsFile::load(m_parts.settingsStore);
    if (!loaded.settings) {
        std::fprintf(stderr, "%s\n", qPrintable(loaded.error));
        std::fflush(stderr);
        m_parts.messageBoxes.critical(nullptr, translatedReason(loaded.error));
        return false;
    }
    m_settings = *loaded.settings;
    m_control->begin(m_settings);
    if (!isVisible() && !m_tray->iconData().added)
        show();
    return true;
}

void frmMain::mnuSettingClick()
{
    if (m_face && !m_face->refusal().isEmpty()) {
        m_parts.messageBoxes.information(this, m_face->refusal());
        return;
    }
    if (!m_frmSetting) {
        // The dialog has the port while it is open.
        m_control->suspend();
        m_frmSetting = new frmSetting(
            m_settings,
            [this](const Settings &settings, const QList<SettingsKey> &keys, QString *error) {
                return SettingsFile::save(settings, keys, m_parts.settingsStore, error);
            },
            m_parts.runAtLogin, m_parts.messageBoxes,
            m_parts.availablePorts ? m_parts.availablePorts() : QList<PortChoice>(), this);
        m_frmSetting->setDeviceWatch(m_parts.deviceWatch);
        connect(m_frmSetting, &frmSetting::closedWith, this, [this](const Settings &settings) {
            m_settings = settings;
            m_control->apply(settings);
        });
    }
    m_frmSetting->showNormal(); // a minimised dialog comes back too
    m_frmSetting->raise();
    m_frmSetting->activateWindow();
}

void frmMain::restore()
{
    m_waitingForTray = false;
    m_tray->deleteIcon();
    // A window that was minimised before it was withdrawn is mapped first, as the window
    // manager last knew it, and then made normal: leaving the minimised state while
    // withdrawn maps it in a way the window manager may take for iconic still.
    if (isMinimized())
        show();
    showNormal();
    raise();
    activateWindow();
}

void frmMain::hideToTray()
{
    // The window is withdrawn without first being made iconic: a window manager that marks
    // an iconified window hidden late would otherwise keep it iconic when it is shown
    // again, and the first click on the icon would seem to do nothing.
    m_tray->addIcon();
    hide();
}

void frmMain::lookForTrayAgain()
{
    // At log-in the program may start before the panel that holds notification icons.
    if (m_tray->isAvailable()) {
        if ((m_waitingForTray || isMinimized()) && isVisible())
            hideToTray();
        m_waitingForTray = false;
        return;
    }
    if (m_trayChecks < int(std::size(kTrayCheckDelaysMs)))
        m_trayCheck->start(kTrayCheckDelaysMs[m_trayChecks++]);
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimised, the window gives way to its notification icon; where the desktop has no
    // notification area it stays on the taskbar, so it can always be found again.
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (!isMinimized()) {
        // The user brought the window back from the taskbar. A Wayland compositor tells
        // nothing of minimising: the state it reports back says nothing of the user.
        if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            m_waitingForTray = false;
    } else if (isVisible() && m_tray->isAvailable())
        hideToTray();
}

void frmMain::showClock(const QTime &time)
{
    m_lblClk->setText(time.toString(QStringLiteral("HH:mm:ss")));
}

void frmMain::showSynced(const QDateTime &second)
{
    if (m_reach == Reach::NotReached)
        m_tray->notify(tr("The display is reached again"),
                       tr("Its clock was set at %1 on %2.")
                           .arg(syncTimeText(second, QLocale()), m_settings.commPort),
                       false);
    m_reach = Reach::Reached;
    m_portNotOpen = false;
    setStatus(tr("Last Sync at ") + syncTimeText(second, QLocale()), QString());
}

void frmMain::showPortNotOpen(const QString &englishReason)
{
    // The log has the English text; the user reads it in the window's language.
    const QString reason = translatedReason(englishReason);
    // Once for each loss, however often the port is tried again.
    if (m_reach == Reach::Reached)
        m_tray->notify(tr("The display is not reached"),
                       reason + QLatin1Char('\n') +
                           tr("Its clock runs on its own until the port is back; Orvantide "
                              "then sets it at once."),
                       true);
    m_reach = Reach::NotReached;
    m_portNotOpen = true;
    setStatus(tr("Port Not Open"), reason);
}

void frmMain::showPortLent()
{
    m_portNotOpen = false;
    setStatus(tr("Settings open: port closed"), tr(kSettingsOpenDetail));
}

void frmMain::setStatus(const QString &text, const QString &detail)
{
    m_statusText = text;
    m_statusDetail = detail;
    showStatus();
}

void frmMain::showPcClockState(const QDateTime &unsynchronisedSince)
{
    m_clockWarning =
        unsynchronisedSince.isValid()
            ? tr("The PC clock is not synchronised to a time source (since %1); the display "
                 "follows it all the same.")
                  .arg(QLocale().toString(unsynchronisedSince, QLocale::ShortFormat))
            : QString();
    showStatus();
}

void frmMain::showWriterScheduling(bool realTime)
{
    // Only what the user may notice is said; the priority itself is in the log.
    m_scheduling = realTime ? QString()
                            : tr("When the PC is busy, the display may be set some "
                                 "milliseconds late.");
    showStatus();
}

void frmMain::showStatus()
{
    m_lblStamp->setText(m_statusText);
    QStringList tip{m_statusDetail, m_clockWarning};
    tip.removeAll(QString());
    m_lblStamp->setToolTip(tip.join(QStringLiteral("\n\n")));
    // The icon tells the reason of a port not open, and wears a warning mark while
    // the display or the PC clock needs the user.
    QStringList iconTip{m_face ? tr("Orvantide (service)") : QStringLiteral("Orvantide"),
                        m_statusText, m_portNotOpen ? m_statusDetail : QString(), m_clockWarning,
                        m_scheduling};
    iconTip.removeAll(QString());
    m_tray->setToolTip(iconTip.join(QLatin1Char('\n')));
    const bool warning = m_portNotOpen || !m_clockWarning.isEmpty();
    if (warning != m_warningShown) {
        m_warningShown = warning;
        m_tray->setIcon(clockIcon(warning));
    }
}

void frmMain::startUpSynced()
{
    m_registeredAtStartUp = m_parts.runAtLogin.CheckRunAtStartup();
    if (m_tray->isAvailable()) {
        hideToTray();
        return;
    }
    // Start-up gives way to the icon once there is a notification area. Wayland
    // compositors may ignore the request to minimise, and never say whether they did.
    m_waitingForTray = true;
    showMinimized();
    lookForTrayAgain();
}

QString frmMain::syncTimeText(const QDateTime &time, const QLocale &locale)
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

void frmMain::endNow()
{
    // A box runs an event loop of its own until it is answered: closed, it returns, and
    // nothing is left to hold the end up. A box that opens another is closed in turn.
    for (int depth = 0; depth < 8; ++depth) {
        auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!box)
            break;
        box->reject();
    }
    close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The close box and Exit both end the program, whatever other window is loaded.
    if (m_frmSetting)
        m_frmSetting->closeForExit();
    m_tray->deleteIcon();
    m_control->shutDown();
    event->accept();
    QCoreApplication::quit();
}
