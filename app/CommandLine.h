#pragma once

#include <QString>
#include <QStringList>

/// The program's command line: --help, --version, --headless, --settings FILE and
/// --set-port PORT; "-systray", which the run-at-login entry passes, is accepted and
/// ignored.
struct CommandLine
{
    enum class Action { Run, ShowHelp, ShowVersion, Error, SetPort };
    /// Which program reads it: the windowed one, which also takes Qt's own options, or
    /// orvantide-service, which always runs as --headless does.
    enum class Program { Windowed, Service };

    Action action = Action::Run;
    QString text;          ///< what to print: the help, the version, or a one-line usage error
    bool headless = false; ///< run without windows, as a service
    QString settingsFile;  ///< the settings file to use; empty: the one beside the program
    QString port;          ///< for Action::SetPort: the CommPort to store
    QString displays;      ///< the service: serve every settings file in this folder

    /// `arguments` without the program's name.
    static CommandLine parse(const QStringList &arguments, Program program = Program::Windowed);
    /// The command line main() was given.
    static CommandLine parse(int argc, char *argv[], Program program = Program::Windowed);
    /// For anything but Action::Run and Action::SetPort: prints the text, the help and the version to standard
    /// output, an error to standard error, and returns the exit status (0, or 2).
    int print() const;

    /// The folder of the executable (links resolved), in native form with one trailing
    /// separator; empty when the system cannot name it (a name not valid in its encoding).
    static QString programFolder();
    /// The settings file: the one the command line names, else orvtide.ini in `folder`.
    QString settingsPath(const QString &folder) const;
    /// Why the program cannot start from the folder `argv0` names.
    static QString unnameableFolder(const char *argv0);
};
