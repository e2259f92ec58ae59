#include "platform/SingleInstance.h"

#include "core/ServiceFace.h"
#include "core/Settings.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

/// Longest request or answer, a line end included; a longer one is dropped.
constexpr int kMaxLine = 64;
/// Connections heard at once; more are answered and closed.
constexpr int kMaxPeers = 8;
/// Connections the system keeps waiting for the listener.
constexpr int kBacklog = 8;
/// Watchers of a service: in all, and of one user.
constexpr int kMaxWatchers = 32;
constexpr int kMaxWatchersOfAUser = 4;
/// How long a windowed program waits before it connects again to a service gone away.
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

/// Whose answer a start believes: the same user's, root's, the settings file owner's (who
/// may change it anyway), or the package's service's.
bool trustedHolder(uid_t uid, const QString &settingsFile)
{
    if (sameUserOrRoot(uid))
        return true;
    struct stat file{};
    if (::stat(QFile::encodeName(settingsFile).constData(), &file) == 0 && file.st_uid == uid)
        return true;
    const passwd *entry = ::getpwuid(uid);
    return entry && std::strcmp(entry->pw_name, kServiceUser) == 0;
}

/// The peer's user, group and supplementary groups, as the kernel recorded them.
struct Peer
{
    ucred credentials{};
    std::vector<gid_t> groups;
};

/// Whether `peer` may write what `entry` describes, as the system decides for a process of
/// theirs: the owner's bits for the owner, the group's for a member, the others' else.
bool mayWrite(const struct stat &entry, const Peer &peer)
{
    const uid_t uid = peer.credentials.uid;
    if (uid == 0)
        return true;
    if (uid == entry.st_uid)
        return entry.st_mode & S_IWUSR;
    const bool member = peer.credentials.gid == entry.st_gid ||
                        std::find(peer.groups.begin(), peer.groups.end(), entry.st_gid) !=
                            peer.groups.end();
    return entry.st_mode & (member ? S_IWGRP : S_IWOTH);
}

QString groupName(gid_t gid)
{
    const group *entry = ::getgrgid(gid);
    return entry ? SettingsFile::printable(QString::fromLocal8Bit(entry->gr_name))
                 : QString::number(gid);
}

/// Why `peer` may not change what the service for `settingsFile` does; empty when they
/// may write the file and its folder, which storing the settings replaces it in.
QString refusalFor(const Peer &peer, const QString &settingsFile)
{
    const QByteArray path = QFile::encodeName(settingsFile);
    const QByteArray folder = QFile::encodeName(QFileInfo(settingsFile).absolutePath());
    struct stat file{};
    struct stat dir{};
    const bool known =
        ::stat(path.constData(), &file) == 0 && ::stat(folder.constData(), &dir) == 0;
    if (known && mayWrite(file, peer) && mayWrite(dir, peer))
        return QString();
    QStringList who{QStringLiteral("root")};
    if (known && (file.st_mode & S_IWUSR) && file.st_uid != 0)
        who << QStringLiteral("the user %1").arg(userName(file.st_uid));
    if (known && (file.st_mode & S_IWGRP))
        who << QStringLiteral("the members of the group %1").arg(groupName(file.st_gid));
    if (known && (file.st_mode & S_IWOTH))
        who = QStringList{QStringLiteral("every user")};
    return QStringLiteral("This window shows what the service does; only a user who may "
                          "change the settings file \"%1\" may ask it for a frame or change "
                          "its settings (%2).")
        .arg(settingsFile, who.join(QStringLiteral(", ")));
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
    void hear(int fd, const Peer &peer);
    /// Takes one request of `peer`'s; false when the connection ends with it.
    bool request(int fd, const QByteArray &line, const Peer &peer, bool *watching);

    SingleInstance &q;
    int listener = -1;
    int spare = -1; ///< a descriptor given up to take a connection when none is left
    QSocketNotifier *notifier = nullptr;
    int peers = 0;                         ///< connections yet to say what they want
    QHash<int, std::function<void()>> watchers; ///< each watcher's socket, and its end
    QHash<uid_t, int> watchersOf;          ///< how many watch, by user
};

SingleInstance::SingleInstance(const QString &settingsFile, Kind kind, QObject *parent)
    : QObject(parent),
      m_name(socketName(settingsFile) +
             (kind == Kind::ServiceWindow ? QStringLiteral("-%1").arg(::getuid()) : QString())),
      m_settingsFile(settingsFile),
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
        const std::optional<ucred> credentials = credentialsOf(fd);
        // A stranger may only watch a service.
        if (!credentials || peers >= kMaxPeers ||
            (!sameUserOrRoot(credentials->uid) && q.m_kind != Kind::Headless)) {
            ::close(fd);
            continue;
        }
        Peer peer{*credentials, {}};
        gid_t groups[256];
        socklen_t length = sizeof groups;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &length) == 0)
            peer.groups.assign(groups, groups + length / sizeof(gid_t));
        hear(fd, peer);
    }
}

void SingleInstance::Private::hear(int fd, const Peer &peer)
{
    ++peers;
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &q);
    auto *deadline = new QTimer(notifier);
    // The state goes with the notifier's connections, also when the program ends with a
    // peer still connected.
    const auto line = std::make_shared<QByteArray>();
    const auto watching = std::make_shared<bool>(false);
    const auto done = [this, fd, notifier, watching, uid = peer.credentials.uid] {
        if (!notifier->isEnabled())
            return;
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(fd);
        if (!*watching) {
            --peers;
        } else {
            watchers.remove(fd);
            if (--watchersOf[uid] == 0)
                watchersOf.remove(uid);
        }
    };
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, notifier, done);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [this, fd, line, watching, done, deadline, peer] {
        char buffer[kMaxLine];
        const ssize_t n = ::recv(fd, buffer, size_t(kMaxLine - line->size()), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0)
            return done();
        line->append(buffer, int(n));
        for (qsizetype end; (end = line->indexOf('\n')) >= 0;) {
            const QByteArray request = line->left(end).trimmed();
            line->remove(0, end + 1);
            const bool wasWatching = *watching;
            if (!this->request(fd, request, peer, watching.get()))
                return done();
            if (*watching && !wasWatching) {
                deadline->stop();
                watchers.insert(fd, done);
            }
        }
        if (line->size() >= kMaxLine)
            done();
    });
    deadline->start(kAnswerMs);
}

bool SingleInstance::Private::request(int fd, const QByteArray &line, const Peer &peer,
                                      bool *watching)
{
    const ucred &who = peer.credentials;
    if (!*watching) {
        if (line == "show" && sameUserOrRoot(who.uid))
            emit q.showRequested();
        if (line != "watch" || watchers.size() >= kMaxWatchers ||
            watchersOf.value(who.uid) >= kMaxWatchersOfAUser)
            return false; // one request a connection
        *watching = true;
        --peers;
        ++watchersOf[who.uid];
        const QString refusal = refusalFor(peer, theFile(q.m_settingsFile));
        QByteArray greeting = refusal.isEmpty()
                                  ? QByteArray("may 1\n")
                                  : "may 0 " + refusal.toUtf8().toPercentEncoding(" ") + '\n';
        if (q.m_state)
            greeting += q.m_state();
        return ::send(fd, greeting.constData(), size_t(greeting.size()),
                      MSG_NOSIGNAL | MSG_DONTWAIT) == greeting.size();
    }
    if (line != "sync" && line != "reload")
        return true;
    if (!refusalFor(peer, theFile(q.m_settingsFile)).isEmpty()) {
        qWarning().noquote() << "refused" << line << "from process" << who.pid << "user"
                             << userName(who.uid) << "who may not change the settings";
        return true;
    }
    if (line == "sync")
        emit q.syncRequested(who.pid, who.uid);
    else
        emit q.reloadRequested(who.pid, who.uid);
    return true;
}

void SingleInstance::tellWatchers(const QByteArray &lines)
{
    // A watcher that does not take what it is told is let go, never waited for.
    const auto all = d->watchers;
    for (auto watcher = all.begin(); watcher != all.end(); ++watcher) {
        if (::send(watcher.key(), lines.constData(), size_t(lines.size()),
                   MSG_NOSIGNAL | MSG_DONTWAIT) != lines.size())
            watcher.value()();
    }
}

bool SingleInstance::claim(Other *other)
{
    // Listening is what decides: of two starting at once, only one can listen.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (d->listen())
            return true;
        if (ask(other)) {
            if (trustedHolder(uid_t(other->uid), theFile(m_settingsFile)))
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
    if (other->answered && m_kind != Kind::Headless && other->kind == Kind::Windowed &&
        trustedHolder(holder->uid, theFile(m_settingsFile)))
        ::send(fd, "show\n", 5, MSG_NOSIGNAL);
    return true;
}

namespace {

/// The windowed program's line to the service: one connection, made again while the
/// program runs whenever the service goes away.
class LocalServiceChannel : public ServiceChannel
{
public:
    LocalServiceChannel(const QString &name, const QString &settingsFile)
        : m_name(name), m_settingsFile(settingsFile)
    {
    }
    ~LocalServiceChannel() override { close(); }

    void open() override
    {
        close();
        if (!connectToService()) {
            lose();
            return;
        }
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &LocalServiceChannel::read);
    }

    void send(const QByteArray &request) override
    {
        const QByteArray line = request + '\n';
        if (m_fd >= 0)
            ::send(m_fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    void close() override
    {
        restart();
        if (m_notifier) {
            // It may be the one whose signal runs now.
            m_notifier->setEnabled(false);
            m_notifier->deleteLater();
            m_notifier = nullptr;
        }
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_line.clear();
    }

private:
    /// Connects, checks that a trusted service holds the name, and asks to watch it.
    bool connectToService()
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        socklen_t length;
        const sockaddr_un address = addressOf(m_name, &length);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), length) != 0)
            return false;
        const std::optional<ucred> holder = credentialsOf(m_fd);
        return holder && trustedHolder(holder->uid, m_settingsFile) &&
               ::send(m_fd, "watch\n", 6, MSG_NOSIGNAL) == 6;
    }

    void read()
    {
        char buffer[ViewLines::kMaxLine];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0)
            return lose();
        m_line.append(buffer, int(n));
        for (qsizetype end; (end = m_line.indexOf('\n')) >= 0;) {
            const QByteArray line = m_line.left(end);
            m_line.remove(0, end + 1);
            takeLine(line);
            if (m_fd < 0)
                return; // closed by a receiver
        }
        if (m_line.size() >= ViewLines::kMaxLine)
            lose();
    }

    QString m_name;
    QString m_settingsFile;
    QSocketNotifier *m_notifier = nullptr;
    int m_fd = -1;
    QByteArray m_line;
};

} // namespace

std::unique_ptr<ServiceChannel> SingleInstance::watchService() const
{
    return std::make_unique<LocalServiceChannel>(m_name, theFile(m_settingsFile));
}
