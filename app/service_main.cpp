// The service alone: Qt Core and the serial port, no Gui, no Widgets, no display
// libraries, so that a machine without a desktop runs it without installing one.

#include "app/CommandLine.h"
#include "app/Service.h"
#include "platform/LogOutput.h"

#include <QStringList>
#include <cstdio>

int main(int argc, char *argv[])
{
    LogOutput::install();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // --headless is what this program always does; it is accepted for the same command
    // lines as the windowed program's.
    const CommandLine commandLine = CommandLine::parse(arguments);
    if (commandLine.action != CommandLine::Action::Run) {
        const bool error = commandLine.action == CommandLine::Action::Error;
        std::fputs(qPrintable(commandLine.text), error ? stderr : stdout);
        return error ? 2 : 0;
    }
    return runServiceMain(argc, argv, commandLine);
}
