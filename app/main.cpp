#include "core/Clock.h"
#include "core/CommandLine.h"
#include "core/modINI.h"
#include "core/modVariables.h"
#include "integration/RunOnWSU.h"
#include "platform/AutostartStore.h"
#include "platform/SerialLink.h"
#ifdef Q_OS_UNIX
#include "platform/PosixSerialLink.h"
#endif
#include "platform/TerminationSignals.h"
#include "ui/MessageBox.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

/// The port while the event loop runs; null once it has returned.
SerialLink *g_openLink = nullptr;

void endedInsideEventLoop()
{
    if (!g_openLink)
        return;
    g_openLink->close();
    std::_Exit(0);
}

} // namespace

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

    // Without the name of its folder the program cannot find its settings file.
    if (modINI::AppFolder().isEmpty()) {
        const QString message =
            QStringLiteral("Orvantide cannot name the folder it was started from (\"%1\"): the "
                           "name is not valid text in this system's encoding, so the settings "
                           "file beside the program cannot be found. Move the program to a "
                           "folder whose name is valid text.")
                .arg(QString::fromLocal8Bit(argv[0]));
        std::fprintf(stderr, "%s\n", qPrintable(message));
        MessageBox::critical(nullptr, message);
        return 2;
    }

    modVariables settings;
#ifdef Q_OS_UNIX
    PosixSerialLink link;
#else
    QtSerialLink link;
#endif
    SystemClock clock;
    const std::unique_ptr<AutostartStore> autostart =
        createAutostartStore(QStringLiteral("Orvantide"));
    RunOnWSU runAtLogin(*autostart);
    frmMain window(settings, link, clock, runAtLogin);
    // A log-out, a service manager or Ctrl+C ends the program as Exit does: the port is
    // closed, so nothing of it is left to stop the next user's instance.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
    if (!window.load())
        return 2;
    // The end of the X session (the server going away) makes Qt end the process from
    // inside the event loop with status 1: the port is closed then and the end reported
    // as the normal one it is.
    g_openLink = &link;
    std::atexit(endedInsideEventLoop);
    const int status = app.exec();
    g_openLink = nullptr;
    return status;
}
