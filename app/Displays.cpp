#include "app/Displays.h"

#include "app/ServedDisplay.h"
#include "core/Clock.h"
#include "core/FrameWriter.h"
#include "core/Log.h"
#include "platform/RealTimeScheduling.h"
#include "platform/ServiceStatus.h"
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
    std::map<QString, std::unique_ptr<ServedDisplay>> displays;

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
            if (const auto running = displays.find(it.key()); running != displays.end()) {
                // Read again for the whole folder: unchanged, it keeps its port open.
                running->second->reload(why, true);
                continue;
            }
            auto display = std::make_unique<ServedDisplay>(
                it.value(), summary.forDisplay(it.key()), false,
                ServedDisplay::Shared{clock, clockSource, scheduling, &writerThread});
            if (display->start() == ServedDisplay::Start::Started)
                displays.emplace(it.key(), std::move(display));
            else
                summary.remove(it.key());
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
