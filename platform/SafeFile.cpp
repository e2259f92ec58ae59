#include "platform/SafeFile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace SafeFile {
namespace {

bool fail(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

} // namespace

#ifdef Q_OS_UNIX
namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

/// Closes a descriptor when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int released = fd;
        fd = -1;
        return released;
    }
};

qint64 systemWrite(int fd, const char *data, qint64 size)
{
    return ::write(fd, data, size_t(size));
}

int systemFsync(int fd)
{
    return ::fsync(fd);
}

int systemRename(const char *from, const char *to)
{
    return ::rename(from, to);
}

/// The file that replacing `path` replaces: `path` itself, or the file its link names.
bool replacedFile(const QString &path, QString *target, struct stat *existing, bool *exists,
                  QString *reason)
{
    *target = path;
    struct stat st;
    if (::lstat(encoded(path).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        const QString named = QFileInfo(path).symLinkTarget();
        if (named.isEmpty())
            return fail(reason, QStringLiteral("is a link that cannot be followed"));
        *target = named;
    }
    if (::lstat(encoded(*target).constData(), existing) != 0) {
        if (errno != ENOENT)
            return fail(reason, QStringLiteral("cannot be examined: %1").arg(systemReason(errno)));
        *exists = false;
        return true;
    }
    *exists = true;
    if (S_ISLNK(existing->st_mode))
        return fail(reason, QStringLiteral("leads to \"%1\", which is a link: the settings are "
                                           "never written through a link found there")
                                .arg(*target));
    if (!S_ISREG(existing->st_mode))
        return fail(reason, *target == path ? QStringLiteral("is not a regular file")
                                            : QStringLiteral("leads to \"%1\", which is not a "
                                                             "regular file")
                                                  .arg(*target));
    return true;
}

} // namespace

const Io &systemIo()
{
    static const Io io{systemWrite, systemFsync, systemRename};
    return io;
}

bool read(const QString &path, QByteArray *data, QString *reason)
{
    struct stat st;
    if (::stat(encoded(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return fail(reason, QStringLiteral("was not found"));
        if (errno == ELOOP)
            return fail(reason, QStringLiteral("is not a regular file (its links form a loop)"));
        return fail(reason, QStringLiteral("cannot be read: %1").arg(systemReason(errno)));
    }
    if (!S_ISREG(st.st_mode))
        return fail(reason, QStringLiteral("is not a regular file"));
    // Not blocking: the file may have been swapped for a FIFO since.
    Descriptor file{::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0)
        return fail(reason, QStringLiteral("cannot be read: %1").arg(systemReason(errno)));
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(reason, QStringLiteral("is not a regular file"));
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(reason, QStringLiteral("cannot be read: %1").arg(systemReason(errno)));
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    if (data)
        *data = bytes;
    return true;
}

bool replace(const QString &path, const QByteArray &data, QString *reason, const Io &io)
{
    QString target;
    struct stat existing;
    bool exists = false;
    if (!replacedFile(path, &target, &existing, &exists, reason))
        return false;

    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    QString temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
        temporary = QStringLiteral("%1/.%2.%3")
                        .arg(folder, info.fileName())
                        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        file.fd = ::open(encoded(temporary).constData(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file.fd < 0 && errno != EEXIST)
            return fail(reason, QStringLiteral("cannot be written: %1").arg(systemReason(errno)));
    }
    if (file.fd < 0)
        return fail(reason, QStringLiteral("cannot be written: no free temporary name"));
    const QByteArray temporaryName = encoded(temporary);
    const auto abandon = [&](const QString &why) {
        const int saved = errno;
        ::close(file.release());
        ::unlink(temporaryName.constData());
        return fail(reason, QStringLiteral("%1: %2").arg(why, systemReason(saved)));
    };

    if (exists) {
        // The group is kept where the user may give it (a member of the file's group);
        // the mode is kept always.
        if (::fchown(file.fd, uid_t(-1), existing.st_gid) != 0 && errno != EPERM)
            return abandon(QStringLiteral("cannot be written"));
        if (::fchmod(file.fd, existing.st_mode & 07777) != 0)
            return abandon(QStringLiteral("cannot be written"));
    }
    for (qsizetype done = 0; done < data.size();) {
        const qint64 n = io.write(file.fd, data.constData() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return abandon(QStringLiteral("cannot be written"));
        }
        done += n;
    }
    if (io.fsync(file.fd) != 0)
        return abandon(QStringLiteral("cannot be written"));
    if (::close(file.release()) != 0) {
        const int saved = errno;
        ::unlink(temporaryName.constData());
        errno = saved;
        return fail(reason, QStringLiteral("cannot be written: %1").arg(systemReason(saved)));
    }
    if (io.rename(temporaryName.constData(), encoded(target).constData()) != 0) {
        const int saved = errno;
        ::unlink(temporaryName.constData());
        return fail(reason, QStringLiteral("cannot be replaced: %1").arg(systemReason(saved)));
    }
    // The rename itself is on the disk once the folder is.
    Descriptor dir{::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0 && io.fsync(dir.fd) != 0 && errno != EINVAL)
        return fail(reason, QStringLiteral("was replaced, but its folder could not be flushed "
                                           "to the disk: %1")
                                .arg(systemReason(errno)));
    return true;
}

#else

const Io &systemIo()
{
    static const Io io{nullptr, nullptr, nullptr};
    return io;
}

bool read(const QString &path, QByteArray *data, QString *reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return fail(reason, QStringLiteral("was not found"));
    if (!info.isFile())
        return fail(reason, QStringLiteral("is not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(reason, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (data)
        *data = file.readAll();
    return true;
}

bool replace(const QString &path, const QByteArray &data, QString *reason, const Io &)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush() ||
        !file.commit())
        return fail(reason, QStringLiteral("cannot be written: %1").arg(file.errorString()));
    return true;
}

#endif

} // namespace SafeFile
