#include "platform/NetworkSerialLink.h"

#include "core/Log.h"
#include "core/PortNames.h"

#include <QSocketNotifier>

#include <algorithm>
#include <array>

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

// Telnet's commands and the options the program speaks.
constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                        kSb = 250, kSe = 240;
constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;
// RFC 2217's requests SET-BAUDRATE, -DATASIZE, -PARITY and -STOPSIZE are 1 to 4; the
// server answers each with its number plus 100.
constexpr unsigned char kSetBaudRate = 1, kReplyOffset = 100;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

/// Why a socket could not be made or connected. A service unit that allows no network
/// (RestrictAddressFamilies=, IPAddressDeny=) makes the system refuse both: that is said.
QString connectReason(int error)
{
    if (error == EAFNOSUPPORT || error == EPERM || error == EACCES)
        return QStringLiteral("%1; the network is closed to this program (a service unit "
                              "opens it with RestrictAddressFamilies=AF_INET AF_INET6 and "
                              "IPAddressAllow=)")
            .arg(systemReason(error));
    return systemReason(error);
}

// RFC 2217's codes for LineSettings' parities (None, Even, Odd, Mark, Space) and stop
// bits (One, OneAndHalf, Two), in the enums' order.
constexpr unsigned char kParityCodes[] = {1, 3, 2, 4, 5};
constexpr unsigned char kStopSizeCodes[] = {1, 3, 2};

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

// ---- Telnet ----------------------------------------------------------------------------

/// The Telnet stream of an RFC 2217 connection, both ways: the data escaped, the server's
/// option negotiation answered, its answers to the line settings compared with the asking.
class NetworkSerialLink::Telnet
{
public:
    /// `bytes` with each 0xFF doubled, as Telnet sends a data byte of that value.
    static QByteArray escape(const QByteArray &bytes)
    {
        QByteArray out;
        out.reserve(bytes.size() + 2);
        for (const char c : bytes) {
            out.append(c);
            if (static_cast<unsigned char>(c) == kIac)
                out.append(c);
        }
        return out;
    }

    /// What the client says first: it will set the line, and asks for binary both ways.
    static QByteArray greeting()
    {
        const unsigned char bytes[] = {kIac, kWill, kComPortOption, kIac, kWill, kBinary,
                                       kIac, kDo,   kBinary};
        return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes);
    }

    /// The four requests that set the line to `line`; their values are kept to compare.
    QByteArray requestLine(const LineSettings &line)
    {
        const quint32 baud = quint32(line.baudRate);
        const char baudBytes[] = {char(baud >> 24), char(baud >> 16), char(baud >> 8),
                                  char(baud)};
        m_asked = {QByteArray(baudBytes, 4), QByteArray(1, char(line.dataBits)),
                   QByteArray(1, char(kParityCodes[int(line.parity)])),
                   QByteArray(1, char(kStopSizeCodes[int(line.stopBits)]))};
        QByteArray out;
        for (int i = 0; i < 4; ++i)
            out.append(char(kIac)).append(char(kSb)).append(char(kComPortOption))
                .append(char(kSetBaudRate + i)).append(escape(m_asked[i]))
                .append(char(kIac)).append(char(kSe));
        return out;
    }

    /// Reads what the server sent; returns what is to be answered.
    QByteArray feed(const QByteArray &bytes)
    {
        QByteArray answer;
        const auto say = [&](unsigned char command, unsigned char option) {
            answer.append(char(kIac)).append(char(command)).append(char(option));
        };
        for (const char byte : bytes) {
            const auto c = static_cast<unsigned char>(byte);
            switch (m_state) {
            case State::Data:
                if (c == kIac)
                    m_state = State::Command;
                break; // what the display sends back is not read
            case State::Command:
                if (c == kDo || c == kDont || c == kWill || c == kWont) {
                    m_command = c;
                    m_state = State::Option;
                } else {
                    m_sub.clear();
                    m_state = c == kSb ? State::Sub : State::Data; // else 0xFF, or no option
                }
                break;
            case State::Option:
                // The greeting said WILL and DO for what the client wants; it answers only
                // what it did not say, so that no negotiation loops.
                if (c == kComPortOption && (m_command == kDo || m_command == kDont))
                    (m_command == kDo ? comPortAgreed : comPortRefused) = true;
                else if (c == kSuppressGoAhead && m_command == kDo)
                    say(kWill, c);
                else if (c == kSuppressGoAhead && m_command == kWill)
                    say(kDo, c);
                else if (c != kBinary && (m_command == kDo || m_command == kWill))
                    say(m_command == kDo ? kWont : kDont, c);
                m_state = State::Data;
                break;
            case State::Sub:
                if (c == kIac)
                    m_state = State::SubCommand;
                else if (m_sub.size() < 64)
                    m_sub.append(byte);
                break;
            case State::SubCommand:
                if (c == kSe) {
                    answered(m_sub);
                    m_state = State::Data;
                } else {
                    if (c == kIac && m_sub.size() < 64)
                        m_sub.append(byte);
                    m_state = State::Sub;
                }
                break;
            }
        }
        return answer;
    }

    /// The server has answered all four line settings.
    bool lineAnswered() const
    {
        return std::all_of(m_answered.begin(), m_answered.end(),
                           [](const QByteArray &a) { return !a.isEmpty(); });
    }
    /// ... with the values asked for.
    bool lineAsAsked() const { return m_answered == m_asked; }

    bool comPortAgreed = false;  ///< the server said DO COM-PORT-OPTION
    bool comPortRefused = false; ///< the server said DONT COM-PORT-OPTION

private:
    /// A subnegotiation: the server's answer to a line setting, or news the program does
    /// not use (the line's and the modem's state).
    void answered(const QByteArray &sb)
    {
        const int setting = sb.size() >= 3 && static_cast<unsigned char>(sb.at(0)) ==
                                                   kComPortOption
                                ? static_cast<unsigned char>(sb.at(1)) - kReplyOffset - 1
                                : -1;
        if (setting >= 0 && setting < 4)
            m_answered[setting] = sb.mid(2);
    }

    enum class State { Data, Command, Option, Sub, SubCommand } m_state = State::Data;
    unsigned char m_command = 0;
    QByteArray m_sub;
    std::array<QByteArray, 4> m_asked;    ///< baud rate, data size, parity, stop size
    std::array<QByteArray, 4> m_answered; ///< the same, as the server set them
};

// ---- connecting ------------------------------------------------------------------------

/// One connection attempt, shared by the link and the thread that makes it: whichever
/// lets it go last closes a connection nobody took.
struct NetworkSerialLink::Attempt
{
    QString device;
    LineSettings line;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int fd = -1;
    QString error;
    std::unique_ptr<Telnet> telnet;
    std::function<void()> notify; ///< told of a connection made after open() returned

    ~Attempt()
    {
        if (fd >= 0)
            ::close(fd);
    }

    void run(const NetworkPort &port)
    {
        QString why;
        auto stream = port.protocol == NetworkPort::Protocol::Rfc2217 ? std::make_unique<Telnet>()
                                                                      : nullptr;
        const int connected = connectTo(port, stream.get(), &why);
        const std::lock_guard guard(lock);
        done = true;
        fd = connected;
        error = why;
        telnet = std::move(stream);
        finished.notify_all();
        if (fd >= 0 && notify)
            notify();
    }

    int connectTo(const NetworkPort &port, Telnet *stream, QString *why) const
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const QByteArray service = QByteArray::number(port.port);
        if (const int failed =
                ::getaddrinfo(port.host.toUtf8().constData(), service.constData(), &hints, &found)) {
            *why = QStringLiteral("the name %1 does not resolve (%2)")
                       .arg(port.host, QString::fromLocal8Bit(::gai_strerror(failed)));
            return -1;
        }
        int fd = -1;
        for (const addrinfo *a = found; a && fd < 0; a = a->ai_next)
            fd = connectOne(a, deadline, why);
        ::freeaddrinfo(found);
        if (fd < 0)
            return -1;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (stream && !negotiate(fd, stream, deadline, why)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static int connectOne(const addrinfo *a, std::chrono::steady_clock::time_point deadline,
                          QString *why)
    {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                a->ai_protocol);
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

    /// Agrees RFC 2217 with the server and sets the line; false with the reason.
    bool negotiate(int fd, Telnet *stream, std::chrono::steady_clock::time_point deadline,
                   QString *why) const
    {
        QByteArray out = Telnet::greeting();
        bool requested = false;
        for (;;) {
            if (!out.isEmpty()) {
                if (::send(fd, out.constData(), size_t(out.size()), MSG_NOSIGNAL) !=
                    ssize_t(out.size())) {
                    *why = systemReason(errno);
                    return false;
                }
                out.clear();
            }
            if (stream->comPortRefused) {
                *why = QStringLiteral("the server does not take line settings (RFC 2217); a "
                                      "raw TCP port is named socket://HOST:PORT");
                return false;
            }
            if (stream->comPortAgreed && !requested) {
                out = stream->requestLine(line);
                requested = true;
                continue;
            }
            if (stream->lineAnswered()) {
                if (!stream->lineAsAsked())
                    qCWarning(lcSync).noquote()
                        << device << "set its line otherwise than the settings ask";
                return true;
            }
            if (waitFor(fd, POLLIN, deadline) == 0) {
                *why = QStringLiteral("the server did not agree the line settings within %1 ms")
                           .arg(kConnectTimeoutMs);
                return false;
            }
            char buffer[512];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0) {
                *why = QStringLiteral("the server closed the connection");
                return false;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                *why = systemReason(errno);
                return false;
            }
            if (n > 0)
                out = stream->feed(QByteArray(buffer, int(n)));
        }
    }
};

// ---- the link --------------------------------------------------------------------------

NetworkSerialLink::NetworkSerialLink() = default;

NetworkSerialLink::~NetworkSerialLink()
{
    if (m_attempt) {
        const std::lock_guard guard(m_attempt->lock);
        m_attempt->notify = nullptr;
    }
    close();
}

bool NetworkSerialLink::open(const QString &device, const LineSettings &settings, QString *error)
{
    close();
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = QStringLiteral("Could not open %1: %2.").arg(device, reason);
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
    if (m_attempt && (m_attempt->device != device || m_attempt->line != settings)) {
        const std::lock_guard guard(m_attempt->lock);
        m_attempt->notify = nullptr;
        m_attempt.reset();
    }
    // A fresh attempt is waited for a moment; one already under way is not waited for
    // again, so that a host that never answers does not hold the window at every try.
    const bool fresh = !m_attempt;
    if (fresh) {
        m_attempt = std::make_shared<Attempt>();
        m_attempt->device = device;
        m_attempt->line = settings;
        m_attempt->notify = [this] {
            QMetaObject::invokeMethod(
                &m_context,
                [this] {
                    if (m_onReady)
                        m_onReady();
                },
                Qt::QueuedConnection);
        };
        std::thread([attempt = m_attempt, port = *port] { attempt->run(port); }).detach();
    }
    std::unique_lock wait(m_attempt->lock);
    if (!m_attempt->finished.wait_for(wait, std::chrono::milliseconds(fresh ? kOpenWaitMs : 0),
                                      [&] { return m_attempt->done; })) {
        wait.unlock();
        return fail(QStringLiteral("the server has not answered yet"));
    }
    const int fd = std::exchange(m_attempt->fd, -1);
    const QString attemptError = m_attempt->error;
    std::unique_ptr<Telnet> telnet = std::move(m_attempt->telnet);
    m_attempt->notify = nullptr;
    wait.unlock();
    m_attempt.reset();
    if (fd < 0)
        return fail(attemptError);
    m_fd = fd;
    m_device = device;
    m_telnet = std::move(telnet);
    // The server's Telnet answers and the end of the connection arrive here, at once.
    m_incoming = new QSocketNotifier(m_fd, QSocketNotifier::Read, &m_context);
    QObject::connect(m_incoming, &QSocketNotifier::activated, &m_context,
                     [this] { readIncoming(); });
    return true;
}

void NetworkSerialLink::readIncoming()
{
    const auto hangUp = [this](const QString &reason) {
        m_incoming->setEnabled(false);
        if (m_onHangUp)
            m_onHangUp(QStringLiteral("%1 %2").arg(m_device, reason));
    };
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return hangUp(QStringLiteral("hung up: the server closed the connection"));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                hangUp(QStringLiteral("hung up: %1").arg(systemReason(errno)));
            return;
        }
        if (m_telnet) {
            const QByteArray answer = m_telnet->feed(QByteArray(buffer, int(n)));
            QString reason;
            if (!answer.isEmpty() && !sendAll(answer, 500, &reason))
                return hangUp(QStringLiteral("hung up: %1").arg(reason));
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
            *reason = systemReason(errno);
            return false;
        }
        // The server reads nothing and its buffers are full: bounded, never a hang.
        const short revents = waitFor(m_fd, POLLOUT, deadline);
        if (revents == 0) {
            *reason = QStringLiteral("the server took no bytes within %1 ms").arg(timeoutMs);
            return false;
        }
        if (revents & (POLLHUP | POLLERR)) {
            *reason = QStringLiteral("the connection was lost");
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
    QString reason = QStringLiteral("the port is not open");
    if (m_fd >= 0 && sendAll(m_telnet ? Telnet::escape(bytes) : bytes, 500, &reason))
        return true;
    if (error)
        *error = QStringLiteral("Could not write to %1: %2").arg(m_device, reason);
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
