#include "core/modINI.h"

#include "platform/ProfileFile.h"

#include <QCoreApplication>
#include <QDir>

namespace modINI {
namespace {

QString &folderOverride()
{
    static QString folder;
    return folder;
}

QString withTrailingSeparator(const QString &folder)
{
    QString native = QDir::toNativeSeparators(folder);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

} // namespace

QString AppFolder()
{
    const QString &overridden = folderOverride();
    return withTrailingSeparator(overridden.isEmpty() ? QCoreApplication::applicationDirPath()
                                                      : overridden);
}

void setAppFolder(const QString &folder)
{
    folderOverride() = folder;
}

QString SettingsFilePath()
{
    return AppFolder() + QStringLiteral("orvtide.ini");
}

QString ReadINI(const QString &section, const QString &key)
{
    return ProfileFile::readString(SettingsFilePath(), section, key);
}

bool WriteINI(const QString &section, const QString &key, const QString &value, QString *error)
{
    return ProfileFile::writeString(SettingsFilePath(), section, key, value, error);
}

} // namespace modINI
