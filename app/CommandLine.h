#pragma once

#include <QString>
#include <QStringList>

/// The program's command line: --help and --version; "-systray", which the run-at-login
/// entry passes, is accepted and ignored. Nothing else is read from it.
struct CommandLine
{
    enum class Action { Run, ShowHelp, ShowVersion, Error };

    Action action = Action::Run;
    QString text; ///< what to print: the help, the version, or a one-line usage error

    /// `arguments` without the program's name.
    static CommandLine parse(const QStringList &arguments);
};
