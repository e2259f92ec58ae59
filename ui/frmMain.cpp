#include "ui/frmMain.h"

#include "core/Synchroniser.h"
#include "ui/ClockIcon.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

namespace {

// The window is laid out in twips, 15 to a pixel.
constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

/// `family` where it is installed, otherwise the closest font of its kind.
QFont fontOf(const QString &family, QFont::StyleHint hint, qreal points, bool bold)
{
    QFont font(family);
    if (!QFontDatabase::hasFamily(family)) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setFamilies({family});
        font.setStyleHint(hint);
        font.setFamily(hint == QFont::Serif ? QStringLiteral("serif")
                                            : QStringLiteral("sans-serif"));
    }
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

/// Shrinks `font` until `sample` fits `width` pixels; a substitute font may be wider.
QFont fitted(QFont font, const QString &sample, int width)
{
    while (QFontMetrics(font).horizontalAdvance(sample) > width && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

} // namespace

frmMain::frmMain(modVariables &settings, SerialLink &link, const Clock &clock, QWidget *parent)
    : QMainWindow(parent), m_core(new Synchroniser(settings, link, clock, *this, this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("KV7R/9R Orvantide"));
    setWindowIcon(clockIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    buildControls();
    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(3990 / kTwipsPerPixel, 1320 / kTwipsPerPixel);
    client->setAutoFillBackground(true);
    QPalette background = client->palette();
    background.setColor(QPalette::Window, QColor(192, 192, 255));
    client->setPalette(background);
    setCentralWidget(client);

    m_lblClk = new QLabel(client);
    m_lblClk->setObjectName(QStringLiteral("lblClk"));
    m_lblClk->setGeometry(twips(120, 240, 2055, 495));
    m_lblClk->setAlignment(Qt::AlignCenter);
    m_lblClk->setFrameShape(QFrame::Box);
    m_lblClk->setLineWidth(1);
    m_lblClk->setAutoFillBackground(true);
    QPalette clockColours = m_lblClk->palette();
    clockColours.setColor(QPalette::Window, Qt::black);
    clockColours.setColor(QPalette::WindowText, Qt::red);
    m_lblClk->setPalette(clockColours);
    m_lblClk->setFont(fitted(fontOf(QStringLiteral("MS Serif"), QFont::Serif, 24, true),
                             QStringLiteral("00:00:00"), m_lblClk->width() - 4));

    const QFont tahoma = fontOf(QStringLiteral("Tahoma"), QFont::SansSerif, 8.25, false);

    m_cmdSync = new QPushButton(QStringLiteral("SYNC NOW"), client);
    m_cmdSync->setObjectName(QStringLiteral("cmdSync"));
    m_cmdSync->setGeometry(twips(2520, 240, 1215, 495));
    m_cmdSync->setFont(tahoma);
    connect(m_cmdSync, &QPushButton::clicked, m_core, &Synchroniser::cmdSyncClick);

    m_lblStamp = new QLabel(client);
    m_lblStamp->setObjectName(QStringLiteral("lblStamp"));
    m_lblStamp->setGeometry(twips(120, 960, 3615, 255));
    QFont stampFont = tahoma;
    stampFont.setBold(true);
    m_lblStamp->setFont(stampFont);
    QPalette stampColours = m_lblStamp->palette();
    stampColours.setColor(QPalette::WindowText, Qt::white);
    m_lblStamp->setPalette(stampColours);

    // Holds the picture of the notification icon; it lies below the visible client area.
    auto *image = new QLabel(client);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(twips(720, 1920, 480, 480));
    image->setPixmap(clockPixmap(32));
}

void frmMain::buildMenus()
{
    auto *setting = new QAction(QStringLiteral("Setting"), this);
    setting->setObjectName(QStringLiteral("mnuSetting"));
    connect(setting, &QAction::triggered, this, &frmMain::settingsRequested);
    menuBar()->addAction(setting);

    m_popup = new QMenu(QStringLiteral("SysTray"), this);
    m_popup->setObjectName(QStringLiteral("mPopupSys"));
    auto *restore = m_popup->addAction(QStringLiteral("Restore"));
    restore->setObjectName(QStringLiteral("mnuRestore"));
    connect(restore, &QAction::triggered, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        activateWindow();
    });
    auto *exit = m_popup->addAction(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
}

bool frmMain::load()
{
    if (m_core->startUp() == Synchroniser::StartUpResult::SettingsError)
        return false;
    if (!isVisible())
        show();
    return true;
}

void frmMain::setClockText(const QString &text)
{
    m_lblClk->setText(text);
}

void frmMain::setStatusText(const QString &text, const QString &detail)
{
    m_lblStamp->setText(text);
    m_lblStamp->setToolTip(detail);
}

void frmMain::minimise()
{
    showMinimized();
}

void frmMain::showSettingsError(const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::fflush(stderr);
    QMessageBox::critical(nullptr, QStringLiteral("Orvantide"), message);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The close box and Exit both end the program, whatever other window is loaded.
    m_core->shutDown();
    event->accept();
    QCoreApplication::quit();
}
