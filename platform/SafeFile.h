#pragma once

#include <QByteArray>
#include <QString>

/// Reading and replacing the small files the program keeps (the settings file, the
/// autostart entry) so that nothing can block, nothing half-written is ever left in
/// place, nothing is written anywhere but the file's own entry in its folder, and every
/// failure is reported with the system's reason.
namespace SafeFile {

/// The largest file read: a settings file or an autostart entry is a few hundred bytes,
/// and a larger one is refused without being read whole.
constexpr qint64 kMaxSize = 1024 * 1024;

/// The system calls a replacement makes, for tests that make them fail.
struct Io
{
    qint64 (*write)(int fd, const char *data, qint64 size);
    /// Called for the new file, then for its folder once it is renamed into place.
    int (*fsync)(int fd);
    /// Renames `from` to `to`, both in the folder `folder`.
    int (*rename)(int folder, const char *from, const char *to);
};
/// The real calls.
const Io &systemIo();

/// One file, reached once and then kept as its folder (held open) and its name there.
///
/// Reaching it follows links made by the user or by root only: a link of another user
/// on the way (a member of the settings group may change /etc/orvantide) is refused with
/// its name. The file's own name may be such a link once (as the package links the program
/// folder's settings file to /etc), but what it leads to must not be a link again. Once
/// reached, every read and replacement works on that folder's entry: a link put there
/// later is refused, and nothing a link elsewhere names is ever read or written.
class Entry
{
public:
    explicit Entry(const QString &path);
    ~Entry();
    Entry(const Entry &) = delete;
    Entry &operator=(const Entry &) = delete;

    /// The path it was made with.
    QString path() const { return m_path; }
    /// The file it reads and replaces (its links resolved) once reached; else path().
    QString filePath() const;

    /// Reads the whole regular file. Never blocks: a FIFO, a device, a socket or a folder
    /// is no regular file. Returns false with `reason` (without the path): "was not
    /// found", "is not a regular file", "is too large ..." or "cannot be read: <system's
    /// reason>", or why a link is refused.
    bool read(QByteArray *data, QString *reason);

    /// Replaces the file with `data`: a new file beside it is written, flushed to the disk
    /// and renamed into place, and the folder flushed, each step checked, so the old file
    /// stays whole until the new one is. A link or anything but a regular file found at
    /// the file's entry is refused, never written through. The file keeps its group and its
    /// mode, less set-user and set-group bits. Returns false with `reason` (without the path) when anything fails; the old
    /// file is then untouched.
    bool replace(const QByteArray &data, QString *reason, const Io &io = systemIo());

private:
    bool reach(QString *reason);

    QString m_path;
    int m_folder = -1;      ///< the file's folder, once reached
    QString m_folderPath;   ///< its path, for messages
    QByteArray m_name;      ///< the file's name in it
};

/// Entry(path).read(): for a file read once.
bool read(const QString &path, QByteArray *data, QString *reason);

/// Entry(path).replace(): for a file written once.
bool replace(const QString &path, const QByteArray &data, QString *reason,
             const Io &io = systemIo());

} // namespace SafeFile
