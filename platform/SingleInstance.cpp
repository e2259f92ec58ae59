#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>

QString SingleInstance::theFile(const QString &settingsFile)
{
    const QFileInfo file(settingsFile);
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? file.absoluteFilePath() : canonical;
}

QString SingleInstance::socketName(const QString &settingsFile)
{
    const QString path = theFile(settingsFile);
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
        .arg(theFile(settingsFile), who);
}

QByteArray SingleInstance::answer() const
{
    return QByteArray(m_kind == Kind::Headless ? "headless" : "windowed") + ' ' +
           QByteArray::number(QCoreApplication::applicationPid()) + '\n';
}
