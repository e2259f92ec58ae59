#include "platform/SingleInstance.h"

#include "core/Settings.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

/// Longest request or answer, a line end included; a longer one is dropped.
constexpr int kMaxLine = 64;
/// Connections heard at once; more are answered and closed.
constexpr int kMaxPeers = 8;
/// Connections the system keeps waiting for the listener.
constexpr int kBacklog = 8;
/// The user of the package's service.
const char kServiceUser[] = "orvantide";

sockaddr_un addressOf(const QString &name, socklen_t *length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toUtf8().left(int(sizeof address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, bytes.constData(), size_t(bytes.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + bytes.size());
    return address;
}

bool sameUserOrRoot(uid_t uid)
{
    return uid == ::getuid() || uid == 0;
}

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? SettingsFile::printable(QString::fromLocal8Bit(entry->pw_name))
                 : QString::number(uid);
}

/// Whose answer a start believes: the same user's, root's, or the package's service's.
bool trustedHolder(uid_t uid)
{
    if (sameUserOrRoot(uid))
        return true;
    const passwd *entry = ::getpwuid(uid);
    return entry && std::strcmp(entry->pw_name, kServiceUser) == 0;
}

/// The peer's credentials, as the kernel recorded them at connect() or listen().
std::optional<ucred> credentialsOf(int fd)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials;
}

} // namespace

/// The listening socket in the abstract namespace, and the peers heard on it.
struct SingleInstance::Private
{
    explicit Private(SingleInstance &instance) : q(instance) {}
    ~Private();

    bool listen();
    void accept();
    void hear(int fd);

    SingleInstance &q;
    int listener = -1;
    int spare = -1; ///< a descriptor given up to take a connection when none is left
    QSocketNotifier *notifier = nullptr;
    int peers = 0;
};

SingleInstance::SingleInstance(const QString &settingsFile, Kind kind, QObject *parent)
    : QObject(parent), m_name(socketName(settingsFile)), m_settingsFile(settingsFile),
      m_kind(kind), d(std::make_unique<Private>(*this))
{
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Private::~Private()
{
    // Peers still connected are let go (those done are disabled, their sockets closed).
    for (const QSocketNotifier *peer : q.findChildren<QSocketNotifier *>()) {
        if (peer != notifier && peer->isEnabled())
            ::close(int(peer->socket()));
    }
    if (listener >= 0)
        ::close(listener);
    if (spare >= 0)
        ::close(spare);
}

bool SingleInstance::Private::listen()
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    socklen_t length;
    const sockaddr_un address = addressOf(q.m_name, &length);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0 ||
        ::listen(fd, kBacklog) != 0) {
        ::close(fd);
        return false;
    }
    listener = fd;
    spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &q);
    QObject::connect(notifier, &QSocketNotifier::activated, &q, [this] { accept(); });
    return true;
}

void SingleInstance::Private::accept()
{
    const QByteArray answer = q.answer();
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0 && errno == EINTR)
            continue;
        if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
            // No descriptor left: the spare one makes room to take the connection and close
            // it, so the listener is never left with one it cannot take.
            if (spare < 0) {
                notifier->setEnabled(false);
                QTimer::singleShot(100, &q, [this] { notifier->setEnabled(true); });
                return;
            }
            ::close(spare);
            const int dropped = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            const bool waiting = dropped >= 0 || errno != EAGAIN;
            if (dropped >= 0)
                ::close(dropped);
            spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (!waiting)
                return;
            continue;
        }
        if (fd < 0)
            return;
        // Who runs is no secret: anyone asking is told, and nothing more.
        ::send(fd, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        const std::optional<ucred> peer = credentialsOf(fd);
        if (!peer || !sameUserOrRoot(peer->uid) || peers >= kMaxPeers) {
            ::close(fd);
            continue;
        }
        hear(fd);
    }
}

void SingleInstance::Private::hear(int fd)
{
    ++peers;
    auto *peer = new QSocketNotifier(fd, QSocketNotifier::Read, &q);
    auto *deadline = new QTimer(peer);
    // The line goes with the notifier's connections, also when the program ends with a
    // peer still connected.
    const auto line = std::make_shared<QByteArray>();
    const auto done = [this, fd, peer] {
        peer->setEnabled(false);
        peer->deleteLater();
        ::close(fd);
        --peers;
    };
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, peer, done);
    QObject::connect(peer, &QSocketNotifier::activated, peer, [this, fd, line, done] {
        char buffer[kMaxLine];
        const ssize_t n = ::recv(fd, buffer, size_t(kMaxLine - line->size()), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0)
            return done();
        line->append(buffer, int(n));
        if (const qsizetype end = line->indexOf('\n'); end >= 0) {
            if (line->left(end).trimmed() == "show")
                emit q.showRequested();
            return done(); // one request a connection
        }
        if (line->size() >= kMaxLine)
            done();
    });
    deadline->start(kAnswerMs);
}

bool SingleInstance::claim(Other *other)
{
    // Listening is what decides: of two starting at once, only one can listen.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (d->listen())
            return true;
        if (ask(other)) {
            if (trustedHolder(uid_t(other->uid)))
                return false;
            m_holderNotice =
                QStringLiteral("Another user's program (process %1, user %2) holds the instance "
                               "name of the settings file \"%3\"; Orvantide runs all the same, "
                               "and the port's lock keeps two programs from writing to one "
                               "display.")
                    .arg(other->pid)
                    .arg(userName(uid_t(other->uid)), m_settingsFile);
            *other = Other();
            return true;
        }
        // the other ended in between
    }
    m_holderNotice = QStringLiteral("A program that does not answer holds the instance name of "
                                    "the settings file \"%1\"; Orvantide runs all the same, and "
                                    "the port's lock keeps two programs from writing to one "
                                    "display.")
                         .arg(m_settingsFile);
    *other = Other();
    return true;
}

bool SingleInstance::ask(Other *other)
{
    *other = Other();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    // A listener that takes no connections or never answers holds a start up for this
    // long at the most: the timeouts apply to connect() and to each read.
    const timeval timeout{kAnswerMs / 1000, (kAnswerMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    socklen_t length;
    const sockaddr_un address = addressOf(m_name, &length);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0)
        return false;
    const std::optional<ucred> holder = credentialsOf(fd);
    if (!holder)
        return false;
    other->uid = holder->uid;
    other->pid = holder->pid; // the kernel's word, not the answer's
    QByteArray line;
    const QDeadlineTimer deadline(kAnswerMs);
    while (!line.contains('\n') && line.size() < kMaxLine && !deadline.hasExpired()) {
        char buffer[kMaxLine];
        const ssize_t n = ::recv(fd, buffer, size_t(kMaxLine - line.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buffer, int(n));
    }
    const QList<QByteArray> words = line.left(line.indexOf('\n')).trimmed().split(' ');
    other->answered = line.contains('\n') && (words.value(0) == "headless" || words.value(0) == "windowed");
    other->kind = words.value(0) == "headless" ? Kind::Headless : Kind::Windowed;
    if (other->answered && m_kind == Kind::Windowed && other->kind == Kind::Windowed &&
        trustedHolder(holder->uid))
        ::send(fd, "show\n", 5, MSG_NOSIGNAL);
    return true;
}
