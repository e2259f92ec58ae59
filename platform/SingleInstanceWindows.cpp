#include "platform/SingleInstance.h"

#include "core/ServiceFace.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

#include <windows.h>

#include <sddl.h>

namespace {

constexpr int kMaxWatchers = 32;

/// Whether the client of `pipe` may write the settings file, asked as that client: the
/// windowed program stores its settings in place where it may not add a file beside it.
bool clientMayWrite(HANDLE pipe, const QString &settingsFile)
{
    if (!ImpersonateNamedPipeClient(pipe))
        return false;
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(settingsFile.utf16()),
                                    GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    RevertToSelf();
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

/// The user a process runs as, as a SID string; empty when it cannot be told.
QString userOf(DWORD pid)
{
    QString sid;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    HANDLE token = nullptr;
    if (process && OpenProcessToken(process, TOKEN_QUERY, &token)) {
        char buffer[256];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
            wchar_t *text = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &text)) {
                sid = QString::fromWCharArray(text);
                LocalFree(text);
            }
        }
        CloseHandle(token);
    }
    if (process)
        CloseHandle(process);
    return sid;
}

/// A service the windowed program may show: one run by the system's own accounts
/// (LocalSystem, LocalService, NetworkService) or by the user who starts the window.
bool trustedServer(HANDLE pipe)
{
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid))
        return false;
    const QString holder = userOf(pid);
    return !holder.isEmpty() &&
           (holder == QLatin1String("S-1-5-18") || holder == QLatin1String("S-1-5-19") ||
            holder == QLatin1String("S-1-5-20") || holder == userOf(GetCurrentProcessId()));
}

/// The windowed program's line to the service over its pipe: one connection, made again
/// while the program runs whenever the service goes away.
class PipeServiceChannel : public ServiceChannel
{
public:
    explicit PipeServiceChannel(const QString &name) : m_name(name) {}
    ~PipeServiceChannel() override { close(); }

    void open() override
    {
        close();
        m_socket = new QLocalSocket(this);
        connect(m_socket, &QLocalSocket::readyRead, this, &PipeServiceChannel::read);
        connect(m_socket, &QLocalSocket::disconnected, this, &PipeServiceChannel::lose);
        m_socket->connectToServer(m_name);
        if (!m_socket->waitForConnected(kAnswerMs) ||
            !trustedServer(HANDLE(m_socket->socketDescriptor())))
            return lose();
        m_socket->write("watch\n");
        m_socket->flush();
    }

    void send(const QByteArray &request) override
    {
        if (m_socket && m_socket->state() == QLocalSocket::ConnectedState) {
            m_socket->write(request + '\n');
            m_socket->flush();
        }
    }

    void close() override
    {
        restart();
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
            m_socket->deleteLater();
            m_socket = nullptr;
        }
    }

private:
    static constexpr int kAnswerMs = 2000;

    void read()
    {
        while (m_socket && m_socket->canReadLine())
            takeLine(m_socket->readLine().chopped(1));
        if (m_socket && m_socket->bytesAvailable() >= ViewLines::kMaxLine)
            lose();
    }

    QString m_name;
    QPointer<QLocalSocket> m_socket;
};

} // namespace

/// A named mutex, which all sessions share, decides who is first; a local server (a
/// named pipe, which every user may open) carries the talk.
struct SingleInstance::Private
{
    explicit Private(SingleInstance &instance) : q(instance), server(new QLocalServer(&instance))
    {
        // The service runs as another user than the windows that show it.
        server->setSocketOptions(QLocalServer::WorldAccessOption);
        QObject::connect(server, &QLocalServer::newConnection, &instance,
                         [this] { answerAll(); });
    }
    ~Private()
    {
        if (mutex)
            CloseHandle(mutex);
    }

    void answerAll();
    void request(QLocalSocket *socket, const QByteArray &line);
    QString refusalFor(QLocalSocket *socket) const;

    SingleInstance &q;
    QLocalServer *server;
    HANDLE mutex = nullptr;        ///< the mutex that makes this one first
    QList<QLocalSocket *> watchers; ///< connections that watch the service
};

/// The name of a user's window of the service is its session's: one such window a session.
static QString sessionSuffix()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return QStringLiteral("-session%1").arg(session);
}

SingleInstance::SingleInstance(const QString &settingsFile, Kind kind, QObject *parent)
    : QObject(parent),
      m_name(socketName(settingsFile) + (kind == Kind::ServiceWindow ? sessionSuffix() : QString())),
      m_settingsFile(settingsFile), m_kind(kind), d(std::make_unique<Private>(*this))
{
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim(Other *other)
{
    // Windows lets a second server listen on a pipe's name: the mutex decides.
    const QString mutexName = QStringLiteral("Global\\") + m_name;
    const HANDLE mutex =
        CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(mutexName.utf16()));
    const bool first = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
    if (first) {
        d->mutex = mutex;
        d->server->listen(m_name);
        return true;
    }
    // Holding on to it would keep the name taken after the other has ended.
    if (mutex)
        CloseHandle(mutex);
    // The other may be between taking the name and listening.
    QDeadlineTimer deadline(kAnswerMs);
    do {
        if (ask(other))
            return false;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    // Neither listening nor answering: something else holds the name.
    *other = Other();
    return false;
}

bool SingleInstance::ask(Other *other)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kAnswerMs))
        return false;
    while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMs)) {
    }
    const QList<QByteArray> words = socket.readLine().trimmed().split(' ');
    other->answered = words.value(0) == "headless" || words.value(0) == "windowed";
    other->kind = words.value(0) == "headless" ? Kind::Headless : Kind::Windowed;
    other->pid = words.value(1).toLongLong();
    if (other->answered && m_kind != Kind::Headless && other->kind == Kind::Windowed) {
        socket.write("show\n");
        socket.waitForBytesWritten(kAnswerMs);
    }
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::Private::answerAll()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket] {
            watchers.removeAll(socket);
            socket->deleteLater();
        });
        QObject::connect(socket, &QLocalSocket::readyRead, &q, [this, socket] {
            while (socket->canReadLine())
                request(socket, socket->readLine().trimmed());
            if (socket->bytesAvailable() > 64)
                socket->abort(); // no request is that long
        });
        socket->write(q.answer());
        socket->flush();
    }
}

QString SingleInstance::Private::refusalFor(QLocalSocket *socket) const
{
    const QString file = theFile(q.m_settingsFile);
    if (clientMayWrite(HANDLE(socket->socketDescriptor()), file))
        return QString();
    return QStringLiteral("This window shows what the service does; only a user who may "
                          "change the settings file \"%1\" may ask it for a frame or change "
                          "its settings (the administrators, and the users its permissions "
                          "name).")
        .arg(QDir::toNativeSeparators(file));
}

void SingleInstance::Private::request(QLocalSocket *socket, const QByteArray &line)
{
    if (!watchers.contains(socket)) {
        if (line == "show")
            emit q.showRequested();
        if (line != "watch" || q.m_kind != Kind::Headless || watchers.size() >= kMaxWatchers)
            return;
        watchers << socket;
        const QString refusal = refusalFor(socket);
        QByteArray greeting = refusal.isEmpty()
                                  ? QByteArray("may 1\n")
                                  : "may 0 " + refusal.toUtf8().toPercentEncoding(" ") + '\n';
        if (q.m_state)
            greeting += q.m_state();
        socket->write(greeting);
        socket->flush();
        return;
    }
    if (line != "sync" && line != "reload")
        return;
    ULONG pid = 0;
    GetNamedPipeClientProcessId(HANDLE(socket->socketDescriptor()), &pid);
    if (!refusalFor(socket).isEmpty()) {
        qWarning().noquote() << "refused" << line << "from process" << pid
                             << ": it may not change the settings file";
        return;
    }
    if (line == "sync")
        emit q.syncRequested(pid, -1);
    else
        emit q.reloadRequested(pid, -1);
}

std::unique_ptr<ServiceChannel> SingleInstance::watchService() const
{
    return std::make_unique<PipeServiceChannel>(m_name);
}

void SingleInstance::tellWatchers(const QByteArray &lines)
{
    // A watcher that does not take what it is told is let go, never waited for.
    const QList<QLocalSocket *> all = d->watchers;
    for (QLocalSocket *watcher : all) {
        if (watcher->bytesToWrite() > 64 * 1024)
            watcher->abort();
        else
            watcher->write(lines);
    }
}
