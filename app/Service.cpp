#include "app/Service.h"

#include "app/CommandLine.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainView.h"
#include "core/ServiceFace.h"
#include "core/Settings.h"
#include "core/Synchroniser.h"
#include "platform/DeviceFolderWatch.h"
#include "platform/RealTimeScheduling.h"
#include "platform/ProfileFile.h"
#include "platform/SerialPorts.h"
#include "platform/SingleInstance.h"
#include "platform/ServiceStatus.h"
#include "platform/SystemClockSource.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <csignal>

int runServiceMain(int argc, char *argv[], const CommandLine &commandLine)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvantide"));
    const QString folder = CommandLine::programFolder();
    if (commandLine.settingsFile.isEmpty() && folder.isEmpty()) {
        qCritical().noquote() << CommandLine::unnameableFolder(argv[0]);
        return 2;
    }
    return runService(commandLine.settingsPath(folder));
}

int runService(const QString &settingsPath)
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvantide.sync=true"));

    SingleInstance instance(settingsPath, SingleInstance::Kind::Headless);
    if (SingleInstance::Other other; !instance.claim(&other)) {
        qCritical().noquote() << SingleInstance::alreadyRuns(settingsPath, other);
        return 1;
    }
    if (!instance.holderNotice().isEmpty())
        qCWarning(lcSync).noquote() << instance.holderNotice();

    ProfileSettingsStore store(settingsPath);
    const SettingsLoad loaded = SettingsFile::load(store);
    if (!loaded.settings) {
        qCritical().noquote() << loaded.error;
        return 2;
    }

    const std::unique_ptr<SerialLink> link = createSerialLink();
    SystemClock clock;
    SystemClockSource clockSource;
    // The core's log is the service's output; the view is what systemd hears, and what
    // the windowed programs that watch the service are told.
    const std::unique_ptr<ServiceStatus> status = ServiceStatus::forThisSystem();
    status->setPort(loaded.settings->commPort);
    ViewRecorder view(*status, [&instance](const QByteArray &line) { instance.tellWatchers(line); });
    instance.setStateForWatchers([&view] { return view.state(); });
    Synchroniser sync(*link, clock, view);
    sync.setClockSource(&clockSource);
    DeviceFolderWatch deviceWatch;
    sync.setDeviceWatch(&deviceWatch);
    // The unit grants the priority through RLIMIT_RTPRIO; nobody else is asked.
    RealTimeScheduling scheduling;
    sync.setScheduling(&scheduling);

    // The settings file again, as an administrator expects of a daemon; a file that cannot
    // be used leaves the settings in use as they are.
    const auto reload = [&](const QString &why) {
        status->reloading();
        const SettingsLoad reloaded = SettingsFile::load(store);
        if (!reloaded.settings) {
            qCritical().noquote() << reloaded.error << "The settings in use stay.";
            status->reloaded();
            return;
        }
        qCInfo(lcSync).noquote() << why << "settings read again from" << settingsPath;
        status->setPort(reloaded.settings->commPort);
        sync.apply(*reloaded.settings);
        status->reloaded();
    };
    const auto asked = [](qint64 pid, qint64 uid) {
        return QStringLiteral("asked by process %1 (user %2):").arg(pid).arg(uid);
    };
    QObject::connect(&instance, &SingleInstance::reloadRequested, &sync,
                     [&](qint64 pid, qint64 uid) { reload(asked(pid, uid)); });
    QObject::connect(&instance, &SingleInstance::syncRequested, &sync, [&](qint64 pid, qint64 uid) {
        qCInfo(lcSync).noquote() << asked(pid, uid) << "SYNC NOW";
        sync.syncNow();
    });

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
    sync.start(*loaded.settings);
    return QCoreApplication::exec();
}
