#pragma once

#include <QByteArray>
#include <QString>

/// Reading and replacing the small files the program keeps (the settings file, the
/// autostart entry) so that nothing can block, nothing half-written is ever left in
/// place, and every failure is reported with the system's reason.
namespace SafeFile {

/// The system calls a replacement makes, for tests that make them fail.
struct Io
{
    qint64 (*write)(int fd, const char *data, qint64 size);
    int (*fsync)(int fd);
    int (*rename)(const char *from, const char *to);
};
/// The real calls.
const Io &systemIo();

/// Reads the whole regular file at `path` (through a link). Never blocks: a FIFO, a
/// device, a socket or a folder is no regular file. Returns false with `reason` (without
/// the path): "was not found", "is not a regular file" or "cannot be read: <system's
/// reason>".
bool read(const QString &path, QByteArray *data, QString *reason);

/// Replaces the file at `path` with `data`: a new file beside the one it replaces is
/// written, flushed to the disk and renamed into place, each step checked, so the old file
/// stays whole until the new one is. When `path` is a link (as the package links the
/// program folder's settings file to /etc), the file it names is replaced and the link
/// stays; a link or anything but a regular file found there is refused, never written
/// through. The file keeps its mode and group. Returns false with `reason` (without the
/// path) when anything fails; the old file is then untouched.
bool replace(const QString &path, const QByteArray &data, QString *reason,
             const Io &io = systemIo());

} // namespace SafeFile
