#include "ui/modSysTray.h"

#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#ifdef ORVANTIDE_HAS_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif
#ifdef ORVANTIDE_HAS_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#endif

namespace {

#ifdef ORVANTIDE_HAS_DBUS
/// Asks the session bus the question Qt asks before it uses the StatusNotifierItem tray,
/// the same way, without making Qt decide for the rest of the process.
bool statusNotifierHostRegistered()
{
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusInterface iface(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    iface.setTimeout(1000); // a hung watcher must not freeze the program
    return iface.property("IsStatusNotifierHostRegistered").toBool();
}
#endif

#ifdef ORVANTIDE_HAS_XCB
/// Whether an XEmbed notification area owns the X screen's system tray selection.
bool xembedTrayPresent()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The tray of the X screen Qt opened: the one DISPLAY names (":0.1" is screen 1).
    const QString display = qEnvironmentVariable("DISPLAY");
    const int dot = display.indexOf(QLatin1Char('.'), display.lastIndexOf(QLatin1Char(':')));
    const QByteArray name =
        "_NET_SYSTEM_TRAY_S" + QByteArray::number(dot < 0 ? 0 : display.mid(dot + 1).toInt());
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()),
        nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool present = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return present;
}
#endif

bool desktopHasTray()
{
#ifdef ORVANTIDE_HAS_DBUS
    // Qt settles which kind of notification area to use, once per process, the first time
    // it is asked; so it is asked only once there is one, and it then picks the same.
    if (statusNotifierHostRegistered())
        return QSystemTrayIcon::isSystemTrayAvailable();
#ifdef ORVANTIDE_HAS_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return xembedTrayPresent() && QSystemTrayIcon::isSystemTrayAvailable();
#endif
    // Wayland has no notification area but the StatusNotifierItem one.
    return false;
#else
    return QSystemTrayIcon::isSystemTrayAvailable();
#endif
}

} // namespace

modSysTray::modSysTray(const QIcon &icon, QMenu *popup, std::function<bool()> available,
                       QObject *parent)
    : QObject(parent), m_popup(popup), m_available(std::move(available))
{
    if (!m_available)
        m_available = desktopHasTray;
    m_data.tip = QStringLiteral("Orvantide");
    m_data.icon = icon;
}

bool modSysTray::isAvailable() const
{
    return m_available();
}

void modSysTray::addIcon()
{
    if (m_data.added)
        return;
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(m_data.icon, this);
        m_icon->setToolTip(m_data.tip);
        m_icon->setContextMenu(m_popup);
        connect(m_icon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // Every left click restores. Qt reports a click soon after another
                    // at the same spot as a double click only.
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        emit restoreRequested();
                });
    }
    m_data.added = true;
    m_icon->show();
}

void modSysTray::deleteIcon()
{
    if (!m_data.added)
        return;
    m_data.added = false;
    m_icon->hide();
}

void modSysTray::setToolTip(const QString &tip)
{
    m_data.tip = tip;
    if (m_icon)
        m_icon->setToolTip(tip);
}

void modSysTray::setIcon(const QIcon &icon)
{
    m_data.icon = icon;
    if (m_icon)
        m_icon->setIcon(icon);
}

void modSysTray::notify(const QString &title, const QString &text, bool problem)
{
    if (!m_data.added)
        return;
    m_icon->showMessage(title, text,
                        problem ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    emit notified(title, text);
}
