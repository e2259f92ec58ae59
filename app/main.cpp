#include "app/CommandLine.h"
#include "app/Service.h"
#include "app/SingleInstance.h"
#include "core/Clock.h"
#include "platform/AutostartStore.h"
#include "platform/LogOutput.h"
#include "platform/ProfileFile.h"
#include "platform/SerialPorts.h"
#include "platform/RunOnWSU.h"
#include "platform/SystemClockSource.h"
#include "platform/TerminationSignals.h"
#include "ui/MessageBox.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

namespace {

/// The folder of the executable (links resolved), in native form with one trailing
/// separator; empty when the system cannot name it (a name not valid in its encoding).
QString programFolder()
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        return {};
    QString native = QDir::toNativeSeparators(folder);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

/// The settings file: the one the command line names, else orvtide.ini in `folder`.
QString settingsPath(const CommandLine &commandLine, const QString &folder)
{
    return commandLine.settingsFile.isEmpty()
               ? folder + QStringLiteral("orvtide.ini")
               : QFileInfo(commandLine.settingsFile).absoluteFilePath();
}

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

QString unnameableFolder(const char *argv0)
{
    return QStringLiteral("Orvantide cannot name the folder it was started from (\"%1\"): the "
                          "name is not valid text in this system's encoding, so the settings "
                          "file beside the program cannot be found. Move the program to a "
                          "folder whose name is valid text, or name the settings file with "
                          "--settings.")
        .arg(QString::fromLocal8Bit(argv0));
}

/// How long the end of the program waits for its last log lines: a reader of standard
/// error that takes nothing never holds it up for longer.
constexpr int kLogFlushMs = 500;

/// The port while the event loop runs; null once it has returned.
SerialLink *g_openLink = nullptr;

void endedInsideEventLoop()
{
    if (!g_openLink)
        return;
    g_openLink->close();
    LogOutput::flush(kLogFlushMs);
    std::_Exit(0);
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed or full standard error neither ends nor stops the program.
    LogOutput::install();
    std::atexit([] { LogOutput::flush(kLogFlushMs); });

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

    if (commandLine.headless) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Orvantide"));
        const QString folder = programFolder();
        if (commandLine.settingsFile.isEmpty() && folder.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(unnameableFolder(argv[0])));
            return 2;
        }
        return runService(settingsPath(commandLine, folder));
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvantide"));
    // The program lives on in the notification area with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);

    // Without the name of its folder the program cannot find its settings file.
    const QString folder = programFolder();
    MessageBoxes messageBoxes;
    if (folder.isEmpty() && commandLine.settingsFile.isEmpty()) {
        const QString message = unnameableFolder(argv[0]);
        std::fprintf(stderr, "%s\n", qPrintable(message));
        messageBoxes.critical(nullptr, message);
        return 2;
    }
    const QString settingsFile = settingsPath(commandLine, folder);

    // A second start for the same settings file brings the running window forward.
    SingleInstance instance(settingsFile, SingleInstance::Kind::Windowed);
    if (SingleInstance::Other other; !instance.claim(&other)) {
        if (other.answered && other.kind == SingleInstance::Kind::Windowed)
            return 0;
        const QString message = SingleInstance::alreadyRuns(settingsFile, other);
        std::fprintf(stderr, "%s\n", qPrintable(message));
        messageBoxes.information(nullptr, message);
        return 1;
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
    frmMain window(parts);
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &frmMain::restore);
    // A log-out, a service manager or Ctrl+C ends the program as Exit does: the port is
    // closed, so nothing of it is left to stop the next user's instance.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
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
