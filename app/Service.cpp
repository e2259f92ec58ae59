#include "app/Service.h"

#include "app/CommandLine.h"
#include "app/ServedDisplay.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/PortNames.h"
#include "core/Settings.h"
#include "core/Synchroniser.h"
#include "platform/ProfileFile.h"
#include "platform/RealTimeScheduling.h"
#include "platform/ServiceStatus.h"
#include "platform/SystemClockSource.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>
#ifdef Q_OS_WIN
#include "platform/WindowsService.h"
#include <QDir>
#include <QFileInfo>
#include <io.h>
#endif

#ifdef Q_OS_WIN
namespace {

/// The service's log file beside its settings file: where a Windows administrator finds
/// the program's files. One earlier generation is kept as .old once it passes 1 MiB.
void logBeside(const QString &settingsPath)
{
    const QString log =
        QFileInfo(settingsPath).absoluteDir().filePath(QStringLiteral("orvantide-service.log"));
    if (QFileInfo(log).size() > 1024 * 1024) {
        QFile::remove(log + QStringLiteral(".old"));
        QFile::rename(log, log + QStringLiteral(".old"));
    }
    if (std::FILE *file = _wfopen(
            reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(log).utf16()), L"ab")) {
        _dup2(_fileno(file), 2);
        std::fclose(file);
    }
}

} // namespace
#endif

int runServiceMain(int argc, char *argv[], const CommandLine &commandLine)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvantide"));
    const QString folder = CommandLine::programFolder();
    if (commandLine.settingsFile.isEmpty() && folder.isEmpty()) {
        qCritical().noquote() << CommandLine::unnameableFolder(argv[0]);
        return 2;
    }
    const QString settingsPath = commandLine.settingsPath(folder);
#ifdef Q_OS_WIN
    // Started by the service control manager, it has no standard error of its own.
    if (WindowsService::startedByManager()) {
        logBeside(settingsPath);
        const int status = runService(settingsPath);
        WindowsService::stopped(status);
        return status;
    }
#endif
    return runService(settingsPath);
}

int runSetPort(int argc, char *argv[], const CommandLine &commandLine)
{
    QCoreApplication app(argc, argv);
    const QString folder = CommandLine::programFolder();
    if (commandLine.settingsFile.isEmpty() && folder.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(CommandLine::unnameableFolder(argv[0])));
        return 2;
    }
    const QString settingsPath = commandLine.settingsPath(folder);
    const std::optional<QString> device = PortNames::deviceFor(commandLine.port);
    if (!device || device->isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(PortNames::whyNoPort(commandLine.port)));
        return 2;
    }
    ProfileSettingsStore store(settingsPath);
    SettingsLoad loaded = SettingsFile::load(store);
    QString error;
    if (loaded.settings) {
        loaded.settings->commPort = commandLine.port;
        if (SettingsFile::save(*loaded.settings, {SettingsKey::CommPort}, store, &error))
            return 0;
    }
    std::fprintf(stderr, "%s\n", qPrintable(loaded.settings ? error : loaded.error));
    return 2;
}

QString askedBy(qint64 pid, qint64 uid)
{
    return uid < 0 ? QStringLiteral("asked by process %1:").arg(pid)
                   : QStringLiteral("asked by process %1 (user %2):").arg(pid).arg(uid);
}

int runService(const QString &settingsPath)
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvantide.sync=true"));

    SystemClock clock;
    SystemClockSource clockSource;
    RealTimeScheduling scheduling;
    ServedDisplay display(settingsPath, ServiceStatus::forThisSystem(), true,
                          {clock, clockSource, scheduling});
    switch (display.start()) {
    case ServedDisplay::Start::AlreadyRuns:
        return 1;
    case ServedDisplay::Start::BadSettings:
        return 2;
    case ServedDisplay::Start::Started:
        break;
    }
    Synchroniser &sync = display.sync();
    const auto reload = [&display](const QString &why) { display.reload(why, false); };

#ifdef Q_OS_WIN
    // The service control manager's stop and "paramchange", on its own thread.
    WindowsService::setControls(
        [&sync] {
            QMetaObject::invokeMethod(&sync, [&sync] {
                qCInfo(lcSync) << "stopped by the service control manager: port closed, ending";
                sync.shutDown();
                QCoreApplication::quit();
            });
        },
        [&sync, &reload] {
            QMetaObject::invokeMethod(&sync, [&reload] {
                reload(QStringLiteral("asked by the service control manager:"));
            });
        });
    const auto noControls = qScopeGuard([] { WindowsService::setControls({}, {}); });
#endif

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &sync, [&](int signal) {
#ifdef SIGHUP
        if (signal == SIGHUP)
            return reload(QStringLiteral("SIGHUP:"));
#endif
        qCInfo(lcSync) << "signal" << signal << "received: port closed, ending";
        sync.shutDown();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
