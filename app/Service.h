#pragma once

#include <QString>

/// The service mode: the same synchronisation with no windows, no notification icon and
/// no display connection. Logs each start-up, frame, failure and reconnect to standard
/// error, one line each; SIGHUP reads the settings file again and applies it; SIGTERM and
/// SIGINT close the port and end with status 0. Returns the exit status: 2 for a settings
/// file that cannot be used, 1 when another instance runs for it.
int runService(const QString &settingsPath);

/// How the log names a watcher's request: "asked by process 4711 (user 1000):", without
/// the user where the system tells none.
QString askedBy(qint64 pid, qint64 uid);

struct CommandLine;
/// The service's main(): the application object, the settings file's path, runService().
int runServiceMain(int argc, char *argv[], const CommandLine &commandLine);

/// --set-port PORT: stores PORT as the settings file's CommPort when the settings dialog's
/// SET would take it, keeping every other line of the file. Returns 0, or 2 with the
/// reason on standard error. For an installer or a script that sets up a display.
int runSetPort(int argc, char *argv[], const CommandLine &commandLine);
