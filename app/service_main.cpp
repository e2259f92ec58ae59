// The service alone: Qt Core and the serial port, no Gui, no Widgets, no display
// libraries, so that a machine without a desktop runs it without installing one.

#include "app/CommandLine.h"
#include "app/Displays.h"
#include "app/Service.h"
#include "platform/LogOutput.h"
#include "platform/SerialPorts.h"

int main(int argc, char *argv[])
{
    LogOutput::install();
    PortNames::setNaming(&systemPortNaming());
    // --headless is what this program always does; it is accepted for the same command
    // lines as the windowed program's.
    const CommandLine commandLine = CommandLine::parse(argc, argv, CommandLine::Program::Service);
    if (commandLine.action == CommandLine::Action::SetPort)
        return runSetPort(argc, argv, commandLine);
    if (commandLine.action != CommandLine::Action::Run)
        return commandLine.print();
    if (!commandLine.displays.isEmpty())
        return runDisplays(argc, argv, commandLine.displays);
    return runServiceMain(argc, argv, commandLine);
}
