#pragma once

#include <QString>

/// The program's settings file, "orvtide.ini" in the application folder.
namespace modINI {

/// The folder of the executable (symbolic links resolved), in native form and with
/// exactly one trailing separator; empty when the system cannot name it (a folder name
/// that is not valid in the system's encoding).
QString AppFolder();

/// Makes AppFolder() report `folder` instead of the executable's folder. An empty text
/// goes back to the executable's folder. Used by tests and tools that run the program's
/// logic against a settings file of their own.
void setAppFolder(const QString &folder);

/// Full path of the settings file, computed anew on every call; empty when AppFolder() is.
QString SettingsFilePath();

/// The value of `key` in `section`, or the empty text when the file, the section or the
/// key is missing or the value is empty.
QString ReadINI(const QString &section, const QString &key);

/// Stores `value` under `key` in `section`. Returns false with the reason in `error`
/// when the file could not be written; the file is then unchanged.
bool WriteINI(const QString &section, const QString &key, const QString &value,
              QString *error = nullptr);

} // namespace modINI
