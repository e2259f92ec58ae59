#pragma once

#include <QString>

class AutostartStore;

/// Registration of the program to be started when the user logs in: the entry
/// "Orvantide" of the platform's autostart store, holding the program's path and
/// " -systray" (which the program ignores).
class RunOnWSU
{
public:
    /// `programPath`: the program's executable, as its folder and file name.
    RunOnWSU(AutostartStore &store, const QString &programPath);

    /// The program's path + " -systray", quoted as the store needs.
    QString RegisteredCommandLine() const;

    /// Registers the program. Returns false with the system's reason when refused.
    bool EnableRunAtStartup(QString *error = nullptr);
    /// Removes the registration. Returns false with the system's reason when refused.
    bool DisableRunAtStartup(QString *error = nullptr);
    /// True when the store holds exactly this program's command line (case-sensitive):
    /// an entry for another folder does not count. On Windows the same line without the
    /// quotes around the path counts too.
    bool CheckRunAtStartup() const;

private:
    AutostartStore &m_store;
    QString m_programPath;
};
