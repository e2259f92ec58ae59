#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

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

bool SingleInstance::claim(Other *other)
{
    // Listening is what decides: of two starting at once, only one can listen.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_server->listen(m_name))
            return true;
        QLocalSocket socket;
#ifdef Q_OS_LINUX
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
#endif
        socket.connectToServer(m_name);
        if (!socket.waitForConnected(kAnswerMs))
            continue; // the other ended in between
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
        return false;
    }
    // Neither listening nor answering: something else holds the name.
    *other = Other();
    return false;
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
