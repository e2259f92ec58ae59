#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>

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

QByteArray SingleInstance::answer() const
{
    return QByteArray(m_kind == Kind::Headless ? "headless" : "windowed") + ' ' +
           QByteArray::number(QCoreApplication::applicationPid()) + '\n';
}
