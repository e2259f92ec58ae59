#include "platform/SingleInstance.h"

#include "core/ServiceFace.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <windows.h>

/// A named mutex, which all sessions share, decides who is first; a local server (a
/// named pipe) carries the talk.
struct SingleInstance::Private
{
    explicit Private(SingleInstance &instance) : q(instance), server(new QLocalServer(&instance))
    {
        QObject::connect(server, &QLocalServer::newConnection, &instance,
                         [this] { answerAll(); });
    }
    ~Private()
    {
        if (mutex)
            CloseHandle(mutex);
    }

    void answerAll();

    SingleInstance &q;
    QLocalServer *server;
    HANDLE mutex = nullptr; ///< the mutex that makes this one first
};

SingleInstance::SingleInstance(const QString &settingsFile, Kind kind, QObject *parent)
    : QObject(parent), m_name(socketName(settingsFile)), m_settingsFile(settingsFile),
      m_kind(kind), d(std::make_unique<Private>(*this))
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
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, &q, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine().trimmed() == "show")
                    emit q.showRequested();
            }
        });
        socket->write(q.answer());
        socket->flush();
    }
}

std::unique_ptr<ServiceChannel> SingleInstance::watchService() const
{
    return nullptr; // the windowed program says that the service runs, and ends
}

void SingleInstance::tellWatchers(const QByteArray &) {}
