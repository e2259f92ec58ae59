#include "ui/frmSetting.h"

#include "ui/Translations.h"

#include "core/DeviceWatch.h"
#include "core/PortNames.h"
#include "core/SyncIntervals.h"
#include "platform/RunOnWSU.h"
#include "ui/ClockIcon.h"
#include "ui/MessageBox.h"
#include "ui/Twips.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>

namespace {

/// The dialog as screen readers see it: a dialog, not a plain part of the main window.
QAccessibleInterface *dialogInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("frmSetting") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Dialog);
    return nullptr;
}

#ifdef Q_OS_WIN
constexpr bool kWindowsWords = true;
#else
constexpr bool kWindowsWords = false; ///< captions say what the controls do on this system
#endif

/// The width `box` needs to show the longest of its entries and its text whole.
int widthForEntries(const QComboBox *box)
{
    const QFontMetrics metrics = box->fontMetrics();
    int text = metrics.horizontalAdvance(box->currentText());
    for (int i = 0; i < box->count(); ++i)
        text = std::max(text, metrics.horizontalAdvance(box->itemText(i)));
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    // A little more than the text: a line edit keeps a margin beside its cursor.
    return box->style()
        ->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(text + 8, metrics.height()), box)
        .width();
}

/// The width of the screen `widget` is on, less its panels; 0 when there is no screen.
int screenWidth(const QWidget *widget)
{
    const QScreen *screen = widget->screen();
    return screen ? screen->availableGeometry().width() : 0;
}

/// The right edge of the rightmost control inside `parent`.
int rightEdge(const QWidget *parent)
{
    int right = 0;
    for (const QWidget *child : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        right = std::max(right, child->geometry().right() + 1);
    return right;
}

/// Widens `widget` to `needed` pixels, moving the controls to its right on its row as far
/// as it then reaches into them.
void widenToFit(QWidget *widget, int needed)
{
    if (needed <= widget->width())
        return;
    const QRect before = widget->geometry();
    widget->resize(needed, widget->height());
    QList<QWidget *> right;
    int shift = 0;
    for (QWidget *sibling :
         widget->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const QRect other = sibling->geometry();
        if (sibling == widget || other.left() <= before.left() || other.top() > before.bottom() ||
            other.bottom() < before.top())
            continue;
        right << sibling;
        shift = std::max(shift, before.left() + needed - other.left());
    }
    for (QWidget *sibling : right)
        sibling->move(sibling->x() + shift, sibling->y());
}

} // namespace

frmSetting::frmSetting(const Settings &settings, Save save, RunOnWSU &runAtLogin,
                       MessageBoxes &boxes, const QList<PortChoice> &systemPorts, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_settings(settings), m_save(std::move(save)), m_runAtLogin(runAtLogin), m_boxes(boxes)
{
    setObjectName(QStringLiteral("frmSetting"));
    static const bool installed = (QAccessible::installFactory(dialogInterface), true);
    Q_UNUSED(installed);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Settings"));
    setWindowIcon(clockIcon());
    setFixedSize(5160 / Twips::kPerPixel, 2100 / Twips::kPerPixel);
    buildControls();
    load(systemPorts);
    fitControls();
}

void frmSetting::buildControls()
{
    const QFont tahoma = Twips::font(QStringLiteral("Tahoma"), QFont::SansSerif, 8.25, false);

    auto *frame1 = new QGroupBox(tr("Serial Port Settings"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(Twips::rect(360, 360, 1695, 855));
    auto *label1 = new QLabel(kWindowsWords ? tr("COM") : tr("&Port"), frame1);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setGeometry(Twips::rect(240, 360, 495, 255));
    m_cboCOM = new QComboBox(frame1);
    m_cboCOM->setObjectName(QStringLiteral("cboCOM"));
    m_cboCOM->setGeometry(Twips::rect(720, 360, 615, 315));
    m_cboCOM->setEditable(true);
    m_cboCOM->setInsertPolicy(QComboBox::NoInsert);
    m_cboCOM->setAccessibleName(tr("Port"));
    label1->setBuddy(m_cboCOM);

    auto *frame2 = new QGroupBox(tr("Sync Interval"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(Twips::rect(2280, 360, 2175, 855));
    auto *label2 = new QLabel(kWindowsWords ? tr("Every") : tr("&Every"), frame2);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->setGeometry(Twips::rect(240, 360, 615, 255));
    m_cboSync = new QComboBox(frame2);
    m_cboSync->setObjectName(QStringLiteral("cboSync"));
    m_cboSync->setGeometry(Twips::rect(840, 360, 1095, 315));
    m_cboSync->setEditable(true);
    m_cboSync->setInsertPolicy(QComboBox::NoInsert);
    m_cboSync->setAccessibleName(tr("Sync interval"));
    label2->setBuddy(m_cboSync);

    m_cmdSet = new QPushButton(tr("SET"), this);
    m_cmdSet->setObjectName(QStringLiteral("cmdSet"));
    m_cmdSet->setGeometry(Twips::rect(360, 1440, 1095, 375));
    m_cmdSet->setFont(tahoma);
    m_cmdSet->setDefault(true); // Enter anywhere in the dialog
    connect(m_cmdSet, &QPushButton::clicked, this, &frmSetting::cmdSetClick);

    m_chkRWSU =
        new QCheckBox(kWindowsWords ? tr("Run On Windows Startup") : tr("Run at &login"), this);
    m_chkRWSU->setObjectName(QStringLiteral("ChkRWSU"));
    m_chkRWSU->setGeometry(Twips::rect(2280, 1320, 2415, 255));
    // Only the user's clicks register or unregister; the program setting the box does not.
    connect(m_chkRWSU, &QCheckBox::clicked, this, &frmSetting::ChkRWSUClick);

    setTabOrder(m_cboCOM, m_cboSync);
    setTabOrder(m_cboSync, m_cmdSet);
    setTabOrder(m_cmdSet, m_chkRWSU);
}

void frmSetting::fitControls()
{
    // The twips positions are the minimum: where the system's fonts are wider than the
    // ones the layout was drawn for, each caption gets the room it needs, each box the room
    // for its longest entry, and what holds them grows by as much, keeping its margin.
    const int dialogRight = rightEdge(this);
    const auto dialogWidth = [&] { return width() + std::max(0, rightEdge(this) - dialogRight); };
    const auto fitFrame = [](QComboBox *box, int boxWidth) {
        QWidget *frame = box->parentWidget();
        const int contentRight = rightEdge(frame);
        for (QLabel *label : frame->findChildren<QLabel *>())
            widenToFit(label, label->sizeHint().width());
        widenToFit(box, boxWidth);
        widenToFit(frame, std::max(frame->minimumSizeHint().width(),
                                   frame->width() + rightEdge(frame) - contentRight));
    };
    fitFrame(m_cboSync, widthForEntries(m_cboSync));
    widenToFit(m_cmdSet, m_cmdSet->sizeHint().width());
    widenToFit(m_chkRWSU, m_chkRWSU->sizeHint().width());
    // The port box last: it takes the room the screen has left. A longer name scrolls in
    // the box; its tooltip has it whole.
    const int screen = screenWidth(this);
    const int room = screen > 0 ? std::max(0, screen - dialogWidth()) : widthForEntries(m_cboCOM);
    fitFrame(m_cboCOM, std::min(widthForEntries(m_cboCOM), m_cboCOM->width() + room));
    setFixedSize(dialogWidth(), height());
}

void frmSetting::load(const QList<PortChoice> &systemPorts)
{
    // "1" to "6", then the ports the system reports that those don't already name, each
    // with what it is. Choosing one puts what is stored, the number or the port's stable
    // name, in the box. A name too wide for the list loses its middle, never its end.
    QStringList named;
    for (int n = 1; n <= 6; ++n) {
        const QString number = QString::number(n);
        const QString device = PortNames::deviceForNumber(n);
        m_cboCOM->addItem(
            kWindowsWords ? number : QStringLiteral("%1 \u2014 %2").arg(number, device), number);
        named << device;
    }
    for (const PortChoice &port : systemPorts) {
        if (named.contains(port.value))
            continue;
        m_cboCOM->addItem(port.description.isEmpty()
                              ? port.value
                              : QStringLiteral("%1 (%2)").arg(port.value, port.description),
                          port.value);
    }
    for (int i = 0; i < m_cboCOM->count(); ++i)
        m_cboCOM->setItemData(i, m_cboCOM->itemText(i), Qt::ToolTipRole);
    connect(m_cboCOM, &QComboBox::activated, this,
            [this](int index) { m_cboCOM->setEditText(m_cboCOM->itemData(index).toString()); });
    connect(m_cboCOM, &QComboBox::editTextChanged, m_cboCOM, &QWidget::setToolTip);
    m_cboCOM->view()->setTextElideMode(Qt::ElideMiddle);
    const int listWidth = m_cboCOM->view()->sizeHintForColumn(0) + 24;
    m_cboCOM->view()->setMinimumWidth(screenWidth(this) > 0 ? std::min(listWidth, screenWidth(this))
                                                            : listWidth);
    m_cboSync->addItems(SyncIntervals::names());
    m_cboSync->view()->setMinimumWidth(m_cboSync->view()->sizeHintForColumn(0) + 24);

    m_cboCOM->setEditText(m_settings.commPort);
    m_cboSync->setCurrentIndex(SyncIntervals::indexForMinutes(m_settings.interval));

    m_chkRWSU->setChecked(m_runAtLogin.CheckRunAtStartup());
}

void frmSetting::cmdSetClick()
{
    // A text that names no port is never stored: the next start-up would refuse it, and
    // the dialog, which mends settings, could then not be reached.
    const QString port = m_cboCOM->currentText();
    const std::optional<QString> device = PortNames::deviceFor(port);
    if (!device || device->isEmpty()) {
        m_boxes.warning(this, tr("The settings were not saved.\n\n%1")
                                  .arg(translatedReason(PortNames::whyNoPort(port))));
        return;
    }
    // The interval is the entry its box names; a typed text that names none is refused
    // as a port's is, and an empty box keeps the interval as it is.
    const QString intervalText = m_cboSync->currentText();
    const int interval = SyncIntervals::indexForName(intervalText);
    if (interval < 0 && !intervalText.trimmed().isEmpty()) {
        m_boxes.warning(this, tr("The settings were not saved.\n\n\"%1\" is not one of the "
                                 "intervals: %2.")
                                  .arg(intervalText.trimmed(),
                                       SyncIntervals::names().join(QLatin1String(", "))));
        return;
    }
    if (interval >= 0) {
        m_cboSync->setCurrentIndex(interval);
        m_settings.interval = *SyncIntervals::minutesForIndex(interval);
    }
    m_settings.commPort = port;
    if (QString error; m_save(m_settings, {SettingsKey::Interval}, &error)) {
        // A port that is not there is kept all the same, for an adapter plugged in later.
        QString done = tr("Settings Done");
        if (m_deviceWatch && !PortNames::networkPort(*device) && !m_deviceWatch->isPresent(*device))
            done += QStringLiteral("\n\n") +
                    tr("%1 is not there now; it is opened when it is plugged in.").arg(*device);
        m_boxes.information(this, done);
    } else
        m_boxes.warning(this,
                        tr("The settings were not saved.\n\n%1").arg(translatedReason(error)));
}

void frmSetting::ChkRWSUClick()
{
    QString error;
    const bool done = m_chkRWSU->isChecked() ? m_runAtLogin.EnableRunAtStartup(&error)
                                             : m_runAtLogin.DisableRunAtStartup(&error);
    if (done)
        return;
    // The box shows what is registered, not what was asked for.
    m_chkRWSU->setChecked(m_runAtLogin.CheckRunAtStartup());
    m_boxes.warning(this,
                    tr("Run at login could not be changed.\n\n%1").arg(translatedReason(error)));
}

void frmSetting::keyPressEvent(QKeyEvent *event)
{
    // As in any dialog: Enter presses the default button, SET; Esc closes, as the close
    // box does. An open list takes these keys itself.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_cmdSet->click();
        return;
    case Qt::Key_Escape:
        close();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void frmSetting::closeEvent(QCloseEvent *event)
{
    m_settings.intervalIndex = m_cboSync->currentIndex();
    if (QString error;
        !m_save(m_settings, {SettingsKey::CommPort, SettingsKey::IntervalIndex}, &error))
        m_boxes.warning(this,
                        tr("The settings were not saved.\n\n%1").arg(translatedReason(error)));
    event->accept();
    if (m_resumeOnClose)
        emit closedWith(m_settings);
}

void frmSetting::closeForExit()
{
    m_resumeOnClose = false;
    close();
}
