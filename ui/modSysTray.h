#pragma once

#include <QIcon>
#include <QObject>
#include <functional>

class QMenu;
class QSystemTrayIcon;

/// The state of the one notification icon of the process.
struct TrayIconData
{
    bool added = false;
    QString tip;
    QIcon icon;
};

/// The notification-area icon: the clock icon with a tooltip that starts with "Orvantide"; a left
/// click asks for the window to be restored, a right click opens the popup menu.
///
/// The icon object is made the first time the icon is added, not before: Qt decides once
/// per process, as the first icon object is made, whether the desktop's notification area
/// is the StatusNotifierItem one over D-Bus, and a panel that starts after the program
/// would otherwise never be used.
class modSysTray : public QObject
{
    Q_OBJECT
public:
    /// `available` tells whether the desktop has a notification area now; when empty, the
    /// desktop is asked: is a StatusNotifierItem host registered on the session bus, or,
    /// on X11, is there an XEmbed tray.
    modSysTray(const QIcon &icon, QMenu *popup, std::function<bool()> available = {},
               QObject *parent = nullptr);

    /// Whether there is a notification area to put the icon in now.
    bool isAvailable() const;

    /// Shows the icon; does nothing when it is already shown, so there is never a second.
    void addIcon();
    /// Removes the icon; does nothing when it is not shown.
    void deleteIcon();
    /// The icon's tooltip: "Orvantide" and, on further lines, how things stand.
    void setToolTip(const QString &tip);
    /// The icon's picture, shown now if the icon is and kept for when it is.
    void setIcon(const QIcon &icon);
    /// A desktop notification from the icon, shown only while the icon stands for the
    /// window (the window shows the same in its status line). `problem`: marked as a
    /// warning, else as information.
    void notify(const QString &title, const QString &text, bool problem);

    const TrayIconData &iconData() const { return m_data; }
    /// The icon object; nullptr until the icon is first added.
    QSystemTrayIcon *trayIcon() const { return m_icon; }

signals:
    /// The icon was clicked (left button): the window is to be restored.
    void restoreRequested();
    /// A notification was handed to the desktop.
    void notified(const QString &title, const QString &text);

private:
    TrayIconData m_data;
    QMenu *m_popup;
    QSystemTrayIcon *m_icon = nullptr;
    std::function<bool()> m_available;
};
