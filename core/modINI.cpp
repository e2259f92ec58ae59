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
    const QString folder =
        overridden.isEmpty() ? QCoreApplication::applicationDirPath() : overridden;
    // Qt names no folder when the executable's path is not valid in the system's encoding;
    // the file system's root must not stand in for it.
    return folder.isEmpty() ? QString() : withTrailingSeparator(folder);
}

void setAppFolder(const QString &folder)
{
    folderOverride() = folder;
}

QString SettingsFilePath()
{
    const QString folder = AppFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("orvtide.ini");
}

QString ReadINI(const QString &section, const QString &key)
{
    return ProfileFile::readString(SettingsFilePath(), section, key);
}

bool WriteINI(const QString &section, const QString &key, const QString &value, QString *error)
{
    if (SettingsFilePath().isEmpty()) {
        if (error)
            *error = QStringLiteral("The program's folder has no name the system can give.");
        return false;
    }
    return ProfileFile::writeString(SettingsFilePath(), section, key, value, error);
}

} // namespace modINI
