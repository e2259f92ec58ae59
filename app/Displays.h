#pragma once

#include <QString>

/// --displays FOLDER: one process serves a display for each settings file FOLDER/NAME.ini
/// as the service serves one settings file (its port and line, its single instance, its
/// reconnects, the windowed program as its face), and one thread writes every frame that
/// falls on a moment in one pass. Each display's log lines start with "NAME: "; the
/// service manager hears one status for all. SIGHUP reads the folder again: a new file
/// starts its display, a file gone stops its display, a changed file is applied as the
/// service applies its own, and a display whose file is unchanged keeps its port open and
/// gets a frame. SIGTERM and SIGINT close every port and end with status 0. Returns 2 when
/// FOLDER is no folder that can be read.
int runDisplays(int argc, char *argv[], const QString &folder);
