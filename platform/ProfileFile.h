#pragma once

#include "core/Settings.h"
#include "platform/SafeFile.h"

#include <QByteArray>
#include <QString>

/// Reading and writing one key of a profile (INI) file, the way the Windows profile
/// functions treat such files, without rewriting anything but the one value.
///
/// Reading: section and key names match case-insensitively; blanks around names and
/// values are ignored; one matching pair of surrounding quotes is removed; a line whose
/// first non-blank character is ';' is a comment; only the first section of a name is
/// searched and its first matching key wins; CR LF, LF and CR line endings all read; a
/// UTF-8 byte-order mark is skipped.
///
/// Writing: an existing key keeps its line, place and spelling; a new key goes right
/// after the last key line of its section; a new section goes at the end of the file;
/// all other bytes stay as they were. The file is replaced atomically.
namespace ProfileFile {

/// Longest value a read returns, in characters (the platform's 255-character buffer
/// less its terminating zero).
constexpr int kMaxValueLength = 254;

/// The value of `key` in `section` of the file at `path`; the empty text when the file,
/// the section or the key is missing, or the value is empty.
QString readString(const QString &path, const QString &section, const QString &key);

/// The value of `key` in `section` of the file content `data`, read as readString() does.
QString valueIn(const QByteArray &data, const QString &section, const QString &key);

/// Stores `value` under `key` in `section`, creating the file, the section and the key as
/// needed. Returns false with a reason in `error` (naming the file) when the names or the
/// value cannot be stored (a line break, an empty name) or the file cannot be read or
/// replaced; the file is then left exactly as it was.
bool writeString(const QString &path, const QString &section, const QString &key,
                 const QString &value, QString *error = nullptr);
/// writeString() on a file already reached; the messages name the file it writes.
bool writeString(SafeFile::Entry &file, const QString &section, const QString &key,
                 const QString &value, QString *error = nullptr);

} // namespace ProfileFile

/// The program's settings file: read once by load(), each value stored at once. The file
/// is reached at the first load (start-up) and kept: see SafeFile::Entry.
class ProfileSettingsStore : public SettingsStore
{
public:
    explicit ProfileSettingsStore(const QString &path);

    QString location() const override { return m_path; }
    bool load(QString *reason) override;
    QString value(const QString &section, const QString &key) const override;
    bool store(const QString &section, const QString &key, const QString &value,
               QString *error) override;

private:
    QString m_path;
    SafeFile::Entry m_file;
    QByteArray m_data;
};
