#include "app/ServedDisplay.h"

#include "app/Service.h"
#include "core/Log.h"
#include "core/ServiceFace.h"
#include "core/Synchroniser.h"
#include "platform/DeviceFolderWatch.h"
#include "platform/SerialPorts.h"
#include "platform/ServiceStatus.h"
#include "platform/SingleInstance.h"

ServedDisplay::ServedDisplay(const QString &settingsPath, std::unique_ptr<ServiceStatus> status,
                             bool isTheService, const Shared &shared)
    : m_path(settingsPath), m_store(settingsPath), m_shared(shared), m_isTheService(isTheService),
      m_status(std::move(status)), m_root(new QObject),
      m_instance(new SingleInstance(settingsPath, SingleInstance::Kind::Headless, m_root))
{
    // Where several are served, what happens to this one's objects is its work in the log.
    LogScope::tag(m_root);
}

ServedDisplay::~ServedDisplay()
{
    const LogScope scope(LogScope::of(m_root));
    if (m_sync)
        m_sync->shutDown();
    delete m_root; // the synchroniser and the instance go before the link and the view
}

ServedDisplay::Start ServedDisplay::start()
{
    if (SingleInstance::Other other; !m_instance->claim(&other)) {
        qCritical().noquote() << SingleInstance::alreadyRuns(m_path, other);
        return Start::AlreadyRuns;
    }
    if (!m_instance->holderNotice().isEmpty())
        qCWarning(lcSync).noquote() << m_instance->holderNotice();
    const SettingsLoad loaded = SettingsFile::load(m_store);
    if (!loaded.settings) {
        qCritical().noquote() << loaded.error;
        return Start::BadSettings;
    }
    m_settings = *loaded.settings;
    m_link = createSerialLink();
    // The core's log is the service's output; the view is what the service manager hears,
    // and what the windows that watch the display are told.
    m_status->setPort(m_settings.commPort);
    SingleInstance *instance = m_instance;
    m_view = std::make_unique<ViewRecorder>(
        *m_status, [instance](const QByteArray &line) { instance->tellWatchers(line); });
    instance->setStateForWatchers([view = m_view.get()] { return view->state(); });
    m_sync = m_shared.writerThread ? new Synchroniser(*m_link, m_shared.clock, *m_view,
                                                      *m_shared.writerThread, m_root)
                                   : new Synchroniser(*m_link, m_shared.clock, *m_view,
                                                      FrameWriter::Threading::OwnThread, m_root);
    m_sync->setClockSource(&m_shared.clockSource);
    m_sync->setDeviceWatch(new DeviceFolderWatch(m_root));
    // The unit grants the priority through RLIMIT_RTPRIO; nobody else is asked.
    m_sync->setScheduling(&m_shared.scheduling);
    QObject::connect(m_instance, &SingleInstance::reloadRequested, m_sync,
                     [this](qint64 pid, qint64 uid) { reload(askedBy(pid, uid), false); });
    QObject::connect(m_instance, &SingleInstance::syncRequested, m_sync,
                     [this](qint64 pid, qint64 uid) {
                         qCInfo(lcSync).noquote() << askedBy(pid, uid) << "SYNC NOW";
                         m_sync->syncNow();
                     });
    m_sync->start(m_settings);
    return Start::Started;
}

void ServedDisplay::reload(const QString &why, bool keepUnchanged)
{
    if (m_isTheService)
        m_status->reloading();
    const SettingsLoad reloaded = SettingsFile::load(m_store);
    if (!reloaded.settings) {
        qCritical().noquote() << reloaded.error << "The settings in use stay.";
    } else if (keepUnchanged && *reloaded.settings == m_settings) {
        qCInfo(lcSync).noquote() << why << "settings unchanged in" << m_path;
        m_sync->syncNow();
    } else {
        qCInfo(lcSync).noquote() << why << "settings read again from" << m_path;
        m_settings = *reloaded.settings;
        m_status->setPort(m_settings.commPort);
        m_sync->apply(m_settings);
    }
    if (m_isTheService)
        m_status->reloaded();
}
