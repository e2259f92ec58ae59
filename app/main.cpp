#include "core/Clock.h"
#include "core/CommandLine.h"
#include "core/modVariables.h"
#include "integration/RunOnWSU.h"
#include "platform/AutostartStore.h"
#include "platform/SerialLink.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Before the application object, which needs a display: --help works without one.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = CommandLine::parse(arguments);
    if (commandLine.action != CommandLine::Action::Run) {
        const bool error = commandLine.action == CommandLine::Action::Error;
        std::fputs(qPrintable(commandLine.text), error ? stderr : stdout);
        return error ? 2 : 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvantide"));
    // The program lives on in the notification area with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);

    modVariables settings;
    QtSerialLink link;
    SystemClock clock;
    const std::unique_ptr<AutostartStore> autostart =
        createAutostartStore(QStringLiteral("Orvantide"));
    RunOnWSU runAtLogin(*autostart);
    frmMain window(settings, link, clock, runAtLogin);
    if (!window.load())
        return 2;
    return app.exec();
}
