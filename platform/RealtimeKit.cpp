#include "platform/RealtimeKit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

#include <algorithm>
#include <sys/resource.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
constexpr int kTimeoutMs = 1000; ///< a hung broker must not hold the writer

/// Property `name` of RealtimeKit; an invalid value when it cannot be read.
QVariant property(QDBusConnection &bus, const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kService << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

} // namespace

namespace RealtimeKit {

bool makeThreadRealTime(qint64 threadId, int priority, QString *why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        *why = QStringLiteral("no system bus");
        return false;
    }
    const QVariant maxPriority = property(bus, QStringLiteral("MaxRealtimePriority"));
    const QVariant maxRtTimeUs = property(bus, QStringLiteral("RTTimeUSecMax"));
    if (!maxPriority.isValid() || !maxRtTimeUs.isValid()) {
        *why = QStringLiteral("not there");
        return false;
    }
    // The thread blocks every second after at most a few milliseconds awake, far within
    // any limit RealtimeKit allows.
    const rlim_t limitUs = rlim_t(std::min<qlonglong>(maxRtTimeUs.toLongLong(), 200'000));
    const rlimit rtTime{limitUs, limitUs};
    if (::setrlimit(RLIMIT_RTTIME, &rtTime) != 0) {
        *why = QStringLiteral("RLIMIT_RTTIME could not be set");
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                       QStringLiteral("MakeThreadRealtime"));
    call << quint64(threadId) << quint32(std::min(priority, maxPriority.toInt()));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *why = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return false;
    }
    return true;
}

} // namespace RealtimeKit
