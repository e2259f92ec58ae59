#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_WIN
#include <QDeadlineTimer>
#include <QThread>
#include <windows.h>
#endif

namespace {

constexpr int kAnswerMs = 2000;

QByteArray kindWord(SingleInstance::Kind kind)
{
    return kind == SingleInstance::Kind::Headless ? "headless" : "windowed";
}

} // namespace

SingleInstance::SingleInstance(const QString &settingsFile, Kind kind, QObject *parent)
    : QObject(parent), m_name(socketName(settingsFile)), m_kind(kind),
      m_server(new QLocalServer(this))
{
#ifdef Q_OS_LINUX
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
#endif
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::answer);
}

QString SingleInstance::socketName(const QString &settingsFile)
{
    // A link (the program folder's settings file, linked to /etc) names the same file.
    const QFileInfo file(settingsFile);
    const QString canonical = file.canonicalFilePath();
    const QString path = canonical.isEmpty() ? file.absoluteFilePath() : canonical;
    return QStringLiteral("orvantide-") +
           QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256)
                                   .toHex()
                                   .left(24));
}

QString SingleInstance::alreadyRuns(const QString &settingsFile, const Other &other)
{
    QString who = !other.answered                ? QStringLiteral("another program")
                  : other.kind == Kind::Headless ? QStringLiteral("the service (--headless)")
                                                 : QStringLiteral("the windowed program");
    if (other.answered && other.pid > 0)
        who += QStringLiteral(" (process %1)").arg(other.pid);
    return QStringLiteral("Orvantide already runs for the settings file \"%1\": %2.")
        .arg(settingsFile, who);
}

SingleInstance::~SingleInstance()
{
#ifdef Q_OS_WIN
    if (m_mutex)
        CloseHandle(HANDLE(m_mutex));
#endif
}

bool SingleInstance::claim(Other *other)
{
#ifdef Q_OS_WIN
    // Windows lets a second server listen on a pipe's name, so a named mutex, which all
    // sessions share, decides; the pipe only carries the talk.
    const QString mutexName = QStringLiteral("Global\\") + m_name;
    const HANDLE mutex =
        CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(mutexName.utf16()));
    const bool first = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
    if (first) {
        m_mutex = mutex;
        m_server->listen(m_name);
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
#else
    // Listening is what decides: of two starting at once, only one can listen.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_server->listen(m_name))
            return true;
        if (ask(other))
            return false;
        // the other ended in between
    }
#endif
    // Neither listening nor answering: something else holds the name.
    *other = Other();
    return false;
}

bool SingleInstance::ask(Other *other)
{
    QLocalSocket socket;
#ifdef Q_OS_LINUX
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
#endif
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kAnswerMs))
        return false;
    while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMs)) {
    }
    const QList<QByteArray> words = socket.readLine().trimmed().split(' ');
    other->answered = words.value(0) == "headless" || words.value(0) == "windowed";
    other->kind = words.value(0) == "headless" ? Kind::Headless : Kind::Windowed;
    other->pid = words.value(1).toLongLong();
    if (other->answered && m_kind == Kind::Windowed && other->kind == Kind::Windowed) {
        socket.write("show\n");
        socket.waitForBytesWritten(kAnswerMs);
    }
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine().trimmed() == "show")
                    emit showRequested();
            }
        });
        socket->write(kindWord(m_kind) + ' ' +
                      QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        socket->flush();
    }
}
