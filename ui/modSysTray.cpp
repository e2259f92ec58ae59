#include "ui/modSysTray.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace {

std::optional<bool> g_availableOverride;

} // namespace

modSysTray::modSysTray(const QIcon &icon, QMenu *popup, QObject *parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(this))
{
    m_data.tip = QStringLiteral("Orvantide");
    m_data.icon = icon;
    m_icon->setIcon(icon);
    m_icon->setToolTip(m_data.tip);
    m_icon->setContextMenu(popup);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A double click restores on its first click already.
                if (reason == QSystemTrayIcon::Trigger)
                    emit restoreRequested();
            });
}

bool modSysTray::isAvailable()
{
    return g_availableOverride.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void modSysTray::setAvailableOverride(std::optional<bool> available)
{
    g_availableOverride = available;
}

void modSysTray::addIcon()
{
    if (m_data.added)
        return;
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
