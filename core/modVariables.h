#pragma once

#include <QString>
#include <QtGlobal>

/// The settings the windows share while the program runs. The program keeps one
/// instance; start-up fills it from the settings file and the settings dialog changes it.
struct modVariables
{
    QString CommPortText;    ///< port number as decimal text, or a device path
    QString PortSettings;    ///< line settings text, "baud,parity,data,stop"
    qint16 SyncInterval = 0; ///< minutes between two periodic synchronisations
    qint16 MinuteCount = 0;  ///< minutes counted since the last periodic synchronisation
};
