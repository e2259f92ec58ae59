#include "app/Displays.h"

#include "app/Service.h"

#include "core/Clock.h"
#include "core/FrameWriter.h"
#include "core/Log.h"
#include "core/ServiceFace.h"
#include "core/Settings.h"
#include "core/Synchroniser.h"
#include "platform/DeviceFolderWatch.h"
#include "platform/ProfileFile.h"
#include "platform/RealTimeScheduling.h"
#include "platform/SerialPorts.h"
#include "platform/ServiceStatus.h"
#include "platform/SingleInstance.h"
#include "platform/SystemClockSource.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <csignal>
#include <map>
#include <memory>

namespace {

/// Whatever the event loop delivers to a display's objects is that display's work: its
/// log lines name it.
class DisplaysApplication : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        const QString display = LogScope::of(receiver);
        if (display.isEmpty())
            return QCoreApplication::notify(receiver, event);
        const LogScope scope(display);
        return QCoreApplication::notify(receiver, event);
    }
};

/// One display: its settings file, its port, its single instance and its synchroniser,
/// all under one object that names it in the log.
struct Display
{
    explicit Display(const QString &settingsPath) : path(settingsPath), store(settingsPath) {}
    ~Display()
    {
        const LogScope scope(LogScope::of(root));
        if (sync)
            sync->shutDown();
        delete root; // the synchroniser and the instance go before the link and the view
    }

    QString path;
    ProfileSettingsStore store;
    std::unique_ptr<SerialLink> link;
    std::unique_ptr<ServiceStatus> status;
    std::unique_ptr<ViewRecorder> view;
    QObject *root = new QObject;
    SingleInstance *instance = nullptr;
    Synchroniser *sync = nullptr;
    Settings settings; ///< in use
};

} // namespace

int runDisplays(int argc, char *argv[], const QString &folder)
{
    DisplaysApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvantide"));
    QLoggingCategory::setFilterRules(QStringLiteral("orvantide.sync=true"));
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable()) {
        qCritical().noquote()
            << QStringLiteral("The folder of settings files \"%1\" cannot be read.").arg(folder);
        return 2;
    }

    SystemClock clock;
    SystemClockSource clockSource;
    RealTimeScheduling scheduling;
    FrameWriterThread writerThread(clock);
    const std::unique_ptr<ServiceStatus> processStatus = ServiceStatus::forThisSystem();
    ServiceStatusSummary summary(*processStatus);
    std::map<QString, std::unique_ptr<Display>> displays;

    // A display's settings again. Unchanged ones, read again for the whole folder, keep
    // the port open and only send a frame.
    const auto reload = [](Display &display, const QString &why, bool keepUnchanged) {
        const SettingsLoad reloaded = SettingsFile::load(display.store);
        if (!reloaded.settings) {
            qCritical().noquote() << reloaded.error << "The settings in use stay.";
            return;
        }
        if (keepUnchanged && *reloaded.settings == display.settings) {
            qCInfo(lcSync).noquote() << why << "settings unchanged in" << display.path;
            display.sync->syncNow();
            return;
        }
        qCInfo(lcSync).noquote() << why << "settings read again from" << display.path;
        display.settings = *reloaded.settings;
        display.status->setPort(display.settings.commPort);
        display.sync->apply(display.settings);
    };
    const auto start = [&](const QString &name, const QString &path) -> std::unique_ptr<Display> {
        auto display = std::make_unique<Display>(path);
        LogScope::tag(display->root);
        display->instance = new SingleInstance(path, SingleInstance::Kind::Headless, display->root);
        if (SingleInstance::Other other; !display->instance->claim(&other)) {
            qCritical().noquote() << SingleInstance::alreadyRuns(path, other);
            return nullptr;
        }
        if (!display->instance->holderNotice().isEmpty())
            qCWarning(lcSync).noquote() << display->instance->holderNotice();
        const SettingsLoad loaded = SettingsFile::load(display->store);
        if (!loaded.settings) {
            qCritical().noquote() << loaded.error;
            return nullptr;
        }
        display->settings = *loaded.settings;
        display->link = createSerialLink();
        display->status = summary.forDisplay(name);
        display->status->setPort(display->settings.commPort);
        SingleInstance *instance = display->instance;
        display->view = std::make_unique<ViewRecorder>(
            *display->status, [instance](const QByteArray &line) { instance->tellWatchers(line); });
        ViewRecorder *view = display->view.get();
        instance->setStateForWatchers([view] { return view->state(); });
        display->sync =
            new Synchroniser(*display->link, clock, *display->view, writerThread, display->root);
        display->sync->setClockSource(&clockSource);
        display->sync->setDeviceWatch(new DeviceFolderWatch(display->root));
        display->sync->setScheduling(&scheduling);
        Display *self = display.get();
        QObject::connect(
            instance, &SingleInstance::reloadRequested, display->sync,
            [&, self](qint64 pid, qint64 uid) { reload(*self, askedBy(pid, uid), false); });
        QObject::connect(instance, &SingleInstance::syncRequested, display->sync,
                         [&, self](qint64 pid, qint64 uid) {
                             qCInfo(lcSync).noquote() << askedBy(pid, uid) << "SYNC NOW";
                             self->sync->syncNow();
                         });
        display->sync->start(display->settings);
        return display;
    };
    // The folder as it is now: each NAME.ini a display.
    const auto readFolder = [&](const QString &why) {
        QMap<QString, QString> files;
        for (const QFileInfo &file :
             dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name))
            files.insert(file.completeBaseName(), file.absoluteFilePath());
        if (files.isEmpty())
            qCWarning(lcSync).noquote()
                << QStringLiteral("no settings files (NAME.ini) in %1").arg(dir.absolutePath());
        for (auto it = displays.begin(); it != displays.end();) {
            if (files.contains(it->first)) {
                ++it;
                continue;
            }
            const LogScope scope(it->first);
            qCInfo(lcSync).noquote() << "settings file gone: port closed, display stopped";
            const QString name = it->first;
            it = displays.erase(it); // first: its end tells the summary nothing more
            summary.remove(name);
        }
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const LogScope scope(it.key());
            if (const auto running = displays.find(it.key()); running != displays.end())
                reload(*running->second, why, true);
            else if (std::unique_ptr<Display> display = start(it.key(), it.value()))
                displays.emplace(it.key(), std::move(display));
        }
    };

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, [&](int signal) {
#ifdef SIGHUP
        if (signal == SIGHUP) {
            summary.reloading();
            readFolder(QStringLiteral("SIGHUP:"));
            summary.reloaded();
            return;
        }
#endif
        qCInfo(lcSync) << "signal" << signal << "received: ports closed, ending";
        displays.clear();
        QCoreApplication::quit();
    });
    qCInfo(lcSync).noquote() << "serving the displays of" << dir.absolutePath();
    readFolder(QString());
    summary.reloaded();
    const int status = QCoreApplication::exec();
    displays.clear();
    return status;
}
