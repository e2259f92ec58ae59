#include "app/CommandLine.h"
#include "app/Service.h"
#include "core/ServiceFace.h"
#include "core/Clock.h"
#include "platform/AutostartStore.h"
#include "platform/DeviceFolderWatch.h"
#include "platform/LogOutput.h"
#include "platform/ProfileFile.h"
#include "platform/RealTimeScheduling.h"
#ifdef Q_OS_LINUX
#include "platform/RealtimeKit.h"
#endif
#include "platform/SerialPorts.h"
#include "platform/SingleInstance.h"
#include "platform/RunOnWSU.h"
#include "platform/SystemClockSource.h"
#include "platform/TerminationSignals.h"
#include "ui/MessageBox.h"
#include "ui/Translations.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <cstdio>
#include <cstdlib>

namespace {

/// The executable's file name, as the run-at-login entry names it.
QString programFileName()
{
    const QFileInfo exe(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return exe.completeBaseName() + QStringLiteral(".exe");
#else
    return exe.fileName();
#endif
}

/// The port while the event loop runs; null once it has returned.
SerialLink *g_openLink = nullptr;

void endedInsideEventLoop()
{
    if (!g_openLink)
        return;
    g_openLink->close();
    LogOutput::flush(LogOutput::kFlushAtEndMs);
    std::_Exit(0);
}

} // namespace

int main(int argc, char *argv[])
{
    LogOutput::install();
    PortNames::setNaming(&systemPortNaming());

    // Before the application object, which needs a display: --help works without one.
    const CommandLine commandLine = CommandLine::parse(argc, argv);
    if (commandLine.action == CommandLine::Action::SetPort)
        return runSetPort(argc, argv, commandLine);
    if (commandLine.action != CommandLine::Action::Run)
        return commandLine.print();

    if (commandLine.headless)
        return runServiceMain(argc, argv, commandLine);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvantide"));
    // The program lives on in the notification area with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);
    installTranslations(app, QLocale());

    // Without the name of its folder the program cannot find its settings file.
    const QString folder = CommandLine::programFolder();
    MessageBoxes messageBoxes;
    if (folder.isEmpty() && commandLine.settingsFile.isEmpty()) {
        const QString message = CommandLine::unnameableFolder(argv[0]);
        std::fprintf(stderr, "%s\n", qPrintable(message));
        messageBoxes.critical(nullptr, message);
        return 2;
    }
    const QString settingsFile = commandLine.settingsPath(folder);

    // A second start for the same settings file brings the running window forward; a
    // start beside the service for it shows the service.
    SingleInstance instance(settingsFile, SingleInstance::Kind::Windowed);
    std::unique_ptr<SingleInstance> serviceWindow;
    std::unique_ptr<ServiceChannel> service;
    if (SingleInstance::Other other; !instance.claim(&other)) {
        if (other.answered && other.kind == SingleInstance::Kind::Windowed)
            return 0;
        if (other.answered && other.kind == SingleInstance::Kind::Headless) {
            serviceWindow = std::make_unique<SingleInstance>(
                settingsFile, SingleInstance::Kind::ServiceWindow);
            if (SingleInstance::Other own; !serviceWindow->claim(&own))
                return 0; // the user's window of the service was asked forward
            service = instance.watchService();
        }
        if (!service) {
            const QString message = SingleInstance::alreadyRuns(settingsFile, other);
            std::fprintf(stderr, "%s\n", qPrintable(message));
            messageBoxes.information(nullptr, message);
            return 1;
        }
    }
    if (!instance.holderNotice().isEmpty())
        qWarning().noquote() << instance.holderNotice();

    ProfileSettingsStore settingsStore(settingsFile);
    const std::unique_ptr<SerialLink> link = createSerialLink();
    SystemClock clock;
    SystemClockSource clockSource;
    const std::unique_ptr<AutostartStore> autostart =
        createAutostartStore(QStringLiteral("Orvantide"));
    RunOnWSU runAtLogin(*autostart, folder + programFileName());
    WindowParts parts{*link,         clock,        runAtLogin,
                      settingsStore, messageBoxes, [] { return SerialPorts::available(); }};
    parts.clockSource = &clockSource;
    DeviceFolderWatch deviceWatch;
    parts.deviceWatch = &deviceWatch;
    // A desktop user may not set real-time priority; RealtimeKit may, as for sound.
#ifdef Q_OS_LINUX
    RealTimeScheduling scheduling(RealtimeKit::makeThreadRealTime);
#else
    RealTimeScheduling scheduling;
#endif
    parts.scheduling = &scheduling;
    parts.service = service.get();
    frmMain window(parts);
    QObject::connect(serviceWindow ? serviceWindow.get() : &instance,
                     &SingleInstance::showRequested, &window, &frmMain::restore);
    // A log-out, a service manager or Ctrl+C ends the program as Exit does: the port is
    // closed, so nothing of it is left to stop the next user's instance.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &frmMain::endNow);
    if (!window.load())
        return 2;
    // The end of the X session (the server going away) makes Qt end the process from
    // inside the event loop with status 1: the port is closed then and the end reported
    // as the normal one it is.
    g_openLink = link.get();
    std::atexit(endedInsideEventLoop);
    const int status = app.exec();
    g_openLink = nullptr;
    return status;
}
