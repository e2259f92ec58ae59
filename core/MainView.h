#pragma once

#include <QString>

/// What the core asks of the main window. The window implements it; tests record it.
class MainView
{
public:
    virtual ~MainView() = default;

    /// The running clock, "HH:MM:SS".
    virtual void setClockText(const QString &text) = 0;
    /// The status line and, as its tooltip, the reason behind it (empty when none).
    virtual void setStatusText(const QString &text, const QString &detail) = 0;
    /// Sends the window out of the way after a successful start-up.
    virtual void minimise() = 0;
    /// Tells the user that the settings file stops the program from starting.
    virtual void showSettingsError(const QString &message) = 0;
};
