#include "platform/SafeFile.h"

#include "core/Reason.h"
#include "platform/SystemText.h"

#include "core/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

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

/// Closes a descriptor when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }
    void reset(int d = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = d;
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

int systemRename(int folder, const char *from, const char *to)
{
    return ::renameat(folder, from, folder, to);
}

/// A link may be followed when the user made it, or root: nobody else can have put it on
/// the way to make the program read or write another file.
bool trustedOwner(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

/// How many links one path may go through, as the kernel allows.
constexpr int kMaxLinks = 40;

QString linkTarget(int folder, const QByteArray &name)
{
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlinkat(folder, name.constData(), target.data(), size_t(target.size()));
    return n < 0 ? QString() : QFile::decodeName(target.left(n));
}

/// The names of a path, without empty ones.
QList<QByteArray> namesOf(const QByteArray &path)
{
    QList<QByteArray> names = path.split('/');
    names.removeAll(QByteArray());
    return names;
}

QString joined(const QString &folder, const QByteArray &name)
{
    const QString file = QFile::decodeName(name);
    return folder.endsWith(QLatin1Char('/')) ? folder + file : folder + QLatin1Char('/') + file;
}

} // namespace

const Io &systemIo()
{
    static const Io io{systemWrite, systemFsync, systemRename};
    return io;
}

Entry::Entry(const QString &path) : m_path(path) {}

Entry::~Entry()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

QString Entry::filePath() const
{
    return m_folder >= 0 ? joined(m_folderPath, m_name) : m_path;
}

bool Entry::reach(QString *reason)
{
    if (m_folder >= 0)
        return true;
    // Component by component from the root, each folder opened without following a link,
    // so that what is checked is what is used.
    QList<QByteArray> pending = namesOf(QFile::encodeName(QFileInfo(m_path).absoluteFilePath()));
    Descriptor folder{::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)};
    QStringList folderNames;
    const auto folderPath = [&] { return QLatin1Char('/') + folderNames.join(QLatin1Char('/')); };
    int links = 0;
    bool fileNameWasLink = false;
    QByteArray fileName(".");
    while (!pending.isEmpty()) {
        const QByteArray name = pending.takeFirst();
        const bool last = pending.isEmpty();
        if (name == "." && !last)
            continue;
        fileName = name;
        struct stat st;
        if (::fstatat(folder.fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last)
                break; // a file not there yet: replace() makes it
            if (errno == ENOENT || errno == ENOTDIR)
                return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "was not found")));
            return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be read: %1"),
                                             systemErrorText(errno)));
        }
        if (S_ISLNK(st.st_mode)) {
            const QString link = joined(folderPath(), name);
            if (!trustedOwner(st.st_uid))
                return fail(reason,
                            Reason::text(QT_TRANSLATE_NOOP(
                                             "Reason", "is reached through the link \"%1\", which "
                                                       "belongs to another user (user ID %2): the "
                                                       "settings are never read or written through "
                                                       "another user's link"),
                                         SettingsFile::printable(link), st.st_uid));
            if (last && fileNameWasLink)
                return fail(
                    reason,
                    Reason::text(QT_TRANSLATE_NOOP("Reason",
                                                   "leads to \"%1\", which is a link: the settings "
                                                   "are never read or written through a link "
                                                   "found there"),
                                 SettingsFile::printable(link)));
            if (++links > kMaxLinks)
                return fail(reason,
                            Reason::text(QT_TRANSLATE_NOOP(
                                "Reason", "is not a regular file (its links form a loop)")));
            const QByteArray target = QFile::encodeName(linkTarget(folder.fd, name));
            if (target.isEmpty())
                return fail(reason, Reason::text(QT_TRANSLATE_NOOP(
                                        "Reason", "is a link that cannot be followed")));
            fileNameWasLink = fileNameWasLink || last;
            if (target.startsWith('/')) {
                folder.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                folderNames.clear();
            }
            pending = namesOf(target) + pending;
            continue;
        }
        if (last)
            break;
        if (!S_ISDIR(st.st_mode))
            return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "was not found")));
        const int next =
            ::openat(folder.fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be read: %1"),
                                             systemErrorText(errno)));
        folder.reset(next);
        if (name != "..")
            folderNames << QFile::decodeName(name);
        else if (!folderNames.isEmpty())
            folderNames.removeLast();
    }
    // The folder itself, readable, so that a rename in it can be flushed to the disk.
    int opened = ::openat(folder.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    m_folder = opened >= 0 ? opened : folder.release();
    m_folderPath = folderPath();
    m_name = fileName;
    return true;
}

bool Entry::read(QByteArray *data, QString *reason)
{
    if (!reach(reason))
        return false;
    // Only a regular file is opened: opening a socket fails, a device may do anything.
    struct stat st;
    if (::fstatat(m_folder, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "is not a regular file")));
    // Not blocking: the file may have become a FIFO since. Not through a link put there.
    Descriptor file{::openat(m_folder, m_name.constData(),
                             O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno == ENOENT)
            return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "was not found")));
        if (errno == ELOOP)
            return fail(reason, Reason::text(
                                    QT_TRANSLATE_NOOP(
                                        "Reason", "is now a link to \"%1\": the settings are never "
                                                  "read or written through a link found there"),
                                    SettingsFile::printable(linkTarget(m_folder, m_name))));
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be read: %1"),
                                         systemErrorText(errno)));
    }
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "is not a regular file")));
    const auto tooLarge = [&] {
        return fail(reason,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason", "is too large: a settings file is at most %1 bytes"),
                                 kMaxSize));
    };
    if (st.st_size > kMaxSize)
        return tooLarge();
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be read: %1"),
                                             systemErrorText(errno)));
        if (n == 0)
            break;
        bytes.append(buffer, n);
        if (bytes.size() > kMaxSize) // it grew while being read
            return tooLarge();
    }
    if (data)
        *data = bytes;
    return true;
}

bool Entry::replace(const QByteArray &data, QString *reason, const Io &io)
{
    if (!reach(reason))
        return false;
    const QString file = filePath();
    struct stat existing;
    const bool exists =
        ::fstatat(m_folder, m_name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be examined: %1"),
                                         systemErrorText(errno)));
    const bool elsewhere = file != QFileInfo(m_path).absoluteFilePath();
    if (exists && S_ISLNK(existing.st_mode))
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP(
                                             "Reason",
                                             "leads to \"%1\", which is now a link to \"%2\": the "
                                             "settings are never written through a link found "
                                             "there"),
                                         file, linkTarget(m_folder, m_name)));
    if (exists && !S_ISREG(existing.st_mode))
        return fail(reason,
                    elsewhere
                        ? Reason::text(QT_TRANSLATE_NOOP("Reason",
                                                         "leads to \"%1\", which is not a regular "
                                                         "file"),
                                       file)
                        : Reason::text(QT_TRANSLATE_NOOP("Reason", "is not a regular file")));

    QByteArray temporary;
    Descriptor out;
    for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
        temporary =
            '.' + m_name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        out.fd = ::openat(m_folder, temporary.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (out.fd < 0 && errno != EEXIST)
            return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written: %1"),
                                             systemErrorText(errno)));
    }
    if (out.fd < 0)
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP(
                                "Reason", "cannot be written: no free temporary name")));
    const auto abandon = [&](const QString &why) {
        const int saved = errno;
        out.reset();
        ::unlinkat(m_folder, temporary.constData(), 0);
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "%1: %2"), why,
                                         systemErrorText(saved)));
    };

    if (exists) {
        // The group is kept where the user may give it (a member of the file's group);
        // the permissions are kept always, never a set-user or set-group bit: a settings
        // file is no program, and a planted bit would follow it into every save.
        if (::fchown(out.fd, uid_t(-1), existing.st_gid) != 0 && errno != EPERM)
            return abandon(Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written")));
        if (::fchmod(out.fd, existing.st_mode & 01777) != 0)
            return abandon(Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written")));
    }
    for (qsizetype done = 0; done < data.size();) {
        const qint64 n = io.write(out.fd, data.constData() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return abandon(Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written")));
        }
        done += n;
    }
    if (io.fsync(out.fd) != 0)
        return abandon(Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written")));
    if (::close(out.release()) != 0) {
        const int saved = errno;
        ::unlinkat(m_folder, temporary.constData(), 0);
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written: %1"),
                                         systemErrorText(saved)));
    }
    // The rename replaces the folder's entry itself, whatever it is by now: it never
    // follows a link.
    if (io.rename(m_folder, temporary.constData(), m_name.constData()) != 0) {
        const int saved = errno;
        ::unlinkat(m_folder, temporary.constData(), 0);
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be replaced: %1"),
                                         systemErrorText(saved)));
    }
    // The rename itself is on the disk once the folder is.
    if (io.fsync(m_folder) != 0 && errno != EINVAL && errno != EBADF)
        return fail(reason,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason", "was replaced, but its folder could not be flushed "
                                               "to the disk: %1"),
                                 systemErrorText(errno)));
    return true;
}
#else

const Io &systemIo()
{
    static const Io io{nullptr, nullptr, nullptr};
    return io;
}

Entry::Entry(const QString &path) : m_path(path) {}

Entry::~Entry() = default;

QString Entry::filePath() const
{
    return m_path;
}

bool Entry::reach(QString *)
{
    return true;
}

bool Entry::read(QByteArray *data, QString *reason)
{
    const QFileInfo info(m_path);
    if (!info.exists())
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "was not found")));
    if (!info.isFile())
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "is not a regular file")));
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be read: %1"),
                                         file.errorString()));
    const QByteArray bytes = file.read(kMaxSize + 1);
    if (bytes.size() > kMaxSize)
        return fail(reason,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason", "is too large: a settings file is at most %1 bytes"),
                                 kMaxSize));
    if (data)
        *data = bytes;
    return true;
}

bool Entry::replace(const QByteArray &data, QString *reason, const Io &)
{
    QSaveFile file(m_path);
    // Under Program Files a user may change the settings file (the installer grants it)
    // but not add a file beside it, as a file to rename into place would be: the file is
    // then written where it is.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush() ||
        !file.commit())
        return fail(reason, Reason::text(QT_TRANSLATE_NOOP("Reason", "cannot be written: %1"),
                                         file.errorString()));
    return true;
}

#endif

bool read(const QString &path, QByteArray *data, QString *reason)
{
    return Entry(path).read(data, reason);
}

bool replace(const QString &path, const QByteArray &data, QString *reason, const Io &io)
{
    return Entry(path).replace(data, reason, io);
}

} // namespace SafeFile
