#include "platform/NetworkSerialLink.h"

#include "core/Reason.h"
#include "platform/SystemText.h"

#include "core/Log.h"
#include "core/PortNames.h"
#include "platform/TelnetComPort.h"
#include "platform/WriteWithoutWaiting.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <utility>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

/// Why a socket could not be made or connected. A service unit that allows no network
/// (RestrictAddressFamilies=, IPAddressDeny=) makes the system refuse both: that is said.
QString connectReason(int error)
{
    if (error == EAFNOSUPPORT || error == EPERM || error == EACCES)
        return Reason::text(
            QT_TRANSLATE_NOOP("Reason",
                              "%1; the network is closed to this program (a service unit "
                              "opens it with RestrictAddressFamilies=AF_INET AF_INET6 and "
                              "IPAddressAllow=)"),
            systemErrorText(error));
    return systemErrorText(error);
}

/// Waits until `fd` is ready for `events` or `deadline`; what it is ready for, or 0.
short waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, int(std::max<qint64>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 ? p.revents : 0;
    }
}

} // namespace

// ---- connecting ------------------------------------------------------------------------

/// One connection attempt, shared by the link and the thread that makes it: whichever
/// lets it go last closes a connection nobody took.
struct NetworkSerialLink::Attempt
{
    enum class Step { LookUp, Connect, Negotiate };

    QString device;
    QString host;
    LineSettings line;
    /// When it is given up: the connection and negotiation keep it themselves, and the link
    /// stops waiting for a name lookup that has not ended by then.
    std::chrono::steady_clock::time_point deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    std::atomic<Step> step{Step::LookUp};
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int fd = -1;
    QString error;
    std::unique_ptr<TelnetComPort> telnet;
    std::function<void()> notify; ///< told when it ends after open() returned

    ~Attempt()
    {
        if (fd >= 0)
            ::close(fd);
    }

    /// What the link says while the attempt goes on.
    QString underWay() const
    {
        switch (step.load()) {
        case Step::LookUp:
            return Reason::text(QT_TRANSLATE_NOOP("Reason", "looking up the name %1"), host);
        case Step::Connect:
            return Reason::text(QT_TRANSLATE_NOOP("Reason", "the server has not answered yet"));
        case Step::Negotiate:
            break;
        }
        return Reason::text(
            QT_TRANSLATE_NOOP("Reason", "the server has not agreed the line settings yet"));
    }

    void run(const NetworkPort &port)
    {
        QString why;
        auto stream = port.protocol == NetworkPort::Protocol::Rfc2217
                          ? std::make_unique<TelnetComPort>(line)
                          : nullptr;
        const int connected = connectTo(port, stream.get(), &why);
        const std::lock_guard guard(lock);
        done = true;
        fd = connected;
        error = why;
        telnet = std::move(stream);
        finished.notify_all();
        if (notify)
            notify();
    }

    int connectTo(const NetworkPort &port, TelnetComPort *stream, QString *why)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const QByteArray service = QByteArray::number(port.port);
        if (const int failed = ::getaddrinfo(port.host.toUtf8().constData(), service.constData(),
                                             &hints, &found)) {
            *why = Reason::text(QT_TRANSLATE_NOOP("Reason", "the name %1 does not resolve (%2)"),
                                port.host, resolverErrorText(failed));
            return -1;
        }
        step = Step::Connect;
        int fd = -1;
        for (const addrinfo *a = found; a && fd < 0; a = a->ai_next)
            fd = connectOne(a, deadline, why);
        ::freeaddrinfo(found);
        if (fd < 0)
            return -1;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        step = Step::Negotiate;
        if (stream && !negotiate(fd, stream, why)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static int connectOne(const addrinfo *a, std::chrono::steady_clock::time_point deadline,
                          QString *why)
    {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            *why = connectReason(errno);
            return -1;
        }
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                if (waitFor(fd, POLLOUT, deadline) == 0) {
                    error = ETIMEDOUT;
                } else {
                    socklen_t size = sizeof error;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                }
            }
        }
        if (error != 0) {
            *why = connectReason(error);
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static QString notAgreed()
    {
        return Reason::text(
            QT_TRANSLATE_NOOP("Reason", "the server did not agree the line settings within %1 ms"),
            kConnectTimeoutMs);
    }

    /// Agrees RFC 2217 with the server and sets the line, by the deadline whatever the
    /// server sends; false with the reason.
    bool negotiate(int fd, TelnetComPort *stream, QString *why) const
    {
        QByteArray out = TelnetComPort::greeting();
        qint64 received = 0;
        for (;;) {
            for (qsizetype sent = 0; sent < out.size();) {
                const ssize_t n =
                    ::send(fd, out.constData() + sent, size_t(out.size() - sent), MSG_NOSIGNAL);
                if (n > 0)
                    sent += n;
                else if (errno != EAGAIN && errno != EINTR)
                    return (*why = systemErrorText(errno), false);
                else if (waitFor(fd, POLLOUT, deadline) == 0)
                    return (*why = notAgreed(), false);
            }
            out.clear();
            switch (stream->state()) {
            case TelnetComPort::State::Failed:
                *why = stream->failure();
                return false;
            case TelnetComPort::State::Ready:
                if (const QStringList differs = stream->differences(); !differs.isEmpty())
                    qCWarning(lcSync).noquote()
                        << device << "set its line otherwise than the settings ask:"
                        << differs.join(QLatin1String("; "));
                return true;
            case TelnetComPort::State::Negotiating:
                break;
            }
            // Past the deadline only what is already there is read, and a server that
            // sends faster than it is read runs out of its allowance first.
            if (waitFor(fd, POLLIN, deadline) == 0)
                return (*why = notAgreed(), false);
            if (received > kNegotiationBytes)
                return (
                    *why = Reason::text(
                        QT_TRANSLATE_NOOP("Reason", "the server sent more than %1 bytes without "
                                                    "agreeing the line settings"),
                        kNegotiationBytes),
                    false);
            char buffer[512];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0) {
                *why =
                    Reason::text(QT_TRANSLATE_NOOP("Reason", "the server closed the connection"));
                return false;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                *why = systemErrorText(errno);
                return false;
            }
            if (n > 0) {
                received += n;
                out = stream->feed(buffer, n);
            }
        }
    }
};

// ---- the link --------------------------------------------------------------------------

NetworkSerialLink::NetworkSerialLink() = default;

NetworkSerialLink::~NetworkSerialLink()
{
    letAttemptGo();
    close();
}

void NetworkSerialLink::letAttemptGo()
{
    if (!m_attempt)
        return;
    const std::lock_guard guard(m_attempt->lock);
    m_attempt->notify = nullptr;
    m_attempt.reset();
}

bool NetworkSerialLink::open(const QString &device, const LineSettings &settings, QString *error)
{
    close();
    // What the connection's events bring is the work of the display that opens it.
    LogScope::tag(&m_context);
    const auto fail = [&](const QString &reason) {
        if (error)
            *error =
                Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not open %1: %2."), device, reason);
        return false;
    };
    QString why;
    const std::optional<NetworkPort> port = PortNames::networkPort(device, &why);
    if (!port) {
        if (error)
            *error = why;
        return false;
    }
    // An attempt for another port or other settings is let go; one for these goes on.
    if (m_attempt && (m_attempt->device != device || m_attempt->line != settings))
        letAttemptGo();
    if (m_failedDevice != device || m_failedLine != settings)
        m_lastFailure.clear();
    // A fresh attempt is waited for a moment; one already under way is not waited for
    // again, so that a host that never answers does not hold the window at every try.
    const bool fresh = !m_attempt;
    if (fresh) {
        m_attempt = std::make_shared<Attempt>();
        m_attempt->device = device;
        m_attempt->host = port->host;
        m_attempt->line = settings;
        // Its end, and a lookup that outlives the deadline, are told to the ready handler,
        // which tries the port again and so hears the outcome.
        const auto tell = [this] {
            if (m_onReady)
                m_onReady();
        };
        m_attempt->notify = [this, tell] {
            QMetaObject::invokeMethod(&m_context, tell, Qt::QueuedConnection);
        };
        QTimer::singleShot(kConnectTimeoutMs + 10, &m_context,
                           [this, tell, attempt = std::weak_ptr<Attempt>(m_attempt)] {
                               if (!attempt.expired() && attempt.lock() == m_attempt)
                                   tell();
                           });
        std::thread([attempt = m_attempt, port = *port] { attempt->run(port); }).detach();
    }
    std::unique_lock wait(m_attempt->lock);
    if (!m_attempt->finished.wait_for(wait, std::chrono::milliseconds(fresh ? kOpenWaitMs : 0),
                                      [&] { return m_attempt->done; })) {
        wait.unlock();
        QString reason = m_lastFailure.isEmpty() ? m_attempt->underWay() : m_lastFailure;
        if (std::chrono::steady_clock::now() >= m_attempt->deadline &&
            m_attempt->step == Attempt::Step::LookUp) {
            // The connection and the negotiation end by the deadline themselves; a name
            // lookup may not, and its thread ends in its own time, unheard.
            reason = Reason::text(
                QT_TRANSLATE_NOOP("Reason", "the name %1 was not resolved within %2 ms (no name "
                                            "server answered)"),
                m_attempt->host, kConnectTimeoutMs);
            rememberFailure(device, settings, reason);
            letAttemptGo();
        }
        return fail(reason);
    }
    const int fd = std::exchange(m_attempt->fd, -1);
    const QString attemptError = m_attempt->error;
    std::unique_ptr<TelnetComPort> telnet = std::move(m_attempt->telnet);
    m_attempt->notify = nullptr;
    wait.unlock();
    m_attempt.reset();
    if (fd < 0) {
        rememberFailure(device, settings, attemptError);
        return fail(attemptError);
    }
    m_lastFailure.clear();
    m_fd = fd;
    m_device = device;
    m_telnet = std::move(telnet);
    // What the line carries in a second, twice over, and a margin for Telnet's news.
    m_floodBytesPerSecond = settings.baudRate / 5 + 4096;
    m_receivedThisSecond = 0;
    m_secondStart = std::chrono::steady_clock::now();
    // The server's Telnet answers and the end of the connection arrive here, at once.
    m_incoming = new QSocketNotifier(m_fd, QSocketNotifier::Read, &m_context);
    QObject::connect(m_incoming, &QSocketNotifier::activated, &m_context,
                     [this] { readIncoming(); });
    return true;
}

void NetworkSerialLink::rememberFailure(const QString &device, const LineSettings &line,
                                        const QString &reason)
{
    m_failedDevice = device;
    m_failedLine = line;
    m_lastFailure = reason;
}

void NetworkSerialLink::readIncoming()
{
    const auto hangUp = [this](const QString &reason) {
        m_incoming->setEnabled(false);
        if (m_onHangUp)
            m_onHangUp(Reason::text(QT_TRANSLATE_NOOP("Reason", "%1 %2"), m_device, reason));
    };
    // A server that sends without end is dropped once it has sent a second's allowance,
    // so that it never keeps the thread from the clock, the schedule and the signals.
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return hangUp(Reason::text(
                QT_TRANSLATE_NOOP("Reason", "hung up: the server closed the connection")));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                hangUp(Reason::text(QT_TRANSLATE_NOOP("Reason", "hung up: %1"),
                                    systemErrorText(errno)));
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - m_secondStart >= std::chrono::seconds(1)) {
            m_secondStart = now;
            m_receivedThisSecond = 0;
        }
        m_receivedThisSecond += n;
        if (m_receivedThisSecond > m_floodBytesPerSecond)
            return hangUp(Reason::text(
                QT_TRANSLATE_NOOP("Reason", "dropped: the server sent more than %1 bytes in a "
                                            "second, more than its line carries"),
                m_floodBytesPerSecond));
        if (m_telnet) {
            const QByteArray answer = m_telnet->feed(buffer, n);
            QString reason;
            if (m_telnet->state() == TelnetComPort::State::Failed)
                return hangUp(
                    Reason::text(QT_TRANSLATE_NOOP("Reason", "dropped: %1"), m_telnet->failure()));
            if (!answer.isEmpty() && !sendAll(answer, 500, &reason))
                return hangUp(Reason::text(QT_TRANSLATE_NOOP("Reason", "hung up: %1"), reason));
        }
    }
}

bool NetworkSerialLink::sendAll(const QByteArray &bytes, int timeoutMs, QString *reason)
{
    const std::lock_guard guard(m_sending);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            *reason = systemErrorText(errno);
            return false;
        }
        // The server reads nothing and its buffers are full: bounded, never a hang.
        const short revents = waitFor(m_fd, POLLOUT, deadline);
        if (revents == 0) {
            *reason = Reason::text(
                QT_TRANSLATE_NOOP("Reason", "the server took no bytes within %1 ms"), timeoutMs);
            return false;
        }
        if (revents & (POLLHUP | POLLERR)) {
            *reason = Reason::text(QT_TRANSLATE_NOOP("Reason", "the connection was lost"));
            return false;
        }
    }
    return true;
}

bool NetworkSerialLink::isOpen() const
{
    return m_fd >= 0;
}

bool NetworkSerialLink::write(const QByteArray &bytes, QString *error)
{
    return sendAllOrSay(m_telnet ? TelnetComPort::escape(bytes) : bytes, error);
}

SerialLink::Started NetworkSerialLink::startWrite(const QByteArray &bytes, QString *error)
{
    if (m_fd < 0)
        return write(bytes, error) ? Started::Done : Started::Failed;
    const std::lock_guard guard(m_sending);
    const Started started =
        writeWithoutWaiting(m_telnet ? TelnetComPort::escape(bytes) : bytes, &m_rest,
                            [this](const char *data, size_t size) {
                                return ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
                            });
    if (started == Started::Failed && error)
        *error = Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not write to %1: %2"), m_device,
                              systemErrorText(errno));
    return started;
}

bool NetworkSerialLink::finishWrite(QString *error)
{
    return sendAllOrSay(std::exchange(m_rest, {}), error);
}

bool NetworkSerialLink::sendAllOrSay(const QByteArray &sent, QString *error)
{
    QString reason = Reason::text(QT_TRANSLATE_NOOP("Reason", "the port is not open"));
    if (m_fd >= 0 && sendAll(sent, 500, &reason))
        return true;
    if (error)
        *error = Reason::text(QT_TRANSLATE_NOOP("Reason", "Could not write to %1: %2"), m_device,
                              reason);
    return false;
}

void NetworkSerialLink::close()
{
    if (m_incoming) {
        // It may be in the middle of telling of the hang-up.
        m_incoming->setEnabled(false);
        m_incoming->deleteLater();
        m_incoming = nullptr;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_telnet.reset();
}

void NetworkSerialLink::setHangUpHandler(std::function<void(const QString &)> onHangUp)
{
    m_onHangUp = std::move(onHangUp);
}

void NetworkSerialLink::setReadyHandler(std::function<void()> onReady)
{
    m_onReady = std::move(onReady);
}
