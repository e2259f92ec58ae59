// Reading and replacing the program's files on real file systems: what is not a regular
// file, a file the user may not read, links planted by another member of the settings
// group, a file system that fills, and each step of a replacement failing.

#include "platform/SafeFile.h"

#include "files.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kOld("[Sync]\r\nInterval=60\r\n");
const QByteArray kNew("[Sync]\r\nInterval=30\r\n");

QByteArray name(const QString &path)
{
    return QFile::encodeName(path);
}

/// SafeFile::read's reason for `path`, as the unprivileged user 65534 when `asNobody`
/// (root reads any file).
QString readReason(const QString &path, bool asNobody)
{
    if (!asNobody || geteuid() != 0) {
        QString reason;
        return SafeFile::read(path, nullptr, &reason) ? QStringLiteral("read") : reason;
    }
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        QString reason = QStringLiteral("no user");
        if (setgid(65534) == 0 && setuid(65534) == 0 && SafeFile::read(path, nullptr, &reason))
            reason = QStringLiteral("read");
        const QByteArray bytes = reason.toUtf8();
        (void)!write(pipeFds[1], bytes.constData(), size_t(bytes.size()));
        _exit(0);
    }
    close(pipeFds[1]);
    QByteArray answer;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    return QString::fromUtf8(answer);
}

int g_failAt = 0; ///< which call of the fault seam fails: 1 write, 2 fsync, 3 rename
int g_error = 0;

qint64 failingWrite(int fd, const char *data, qint64 size)
{
    if (g_failAt == 1) {
        errno = g_error;
        return -1;
    }
    return SafeFile::systemIo().write(fd, data, size);
}

int failingFsync(int fd)
{
    if (g_failAt == 2) {
        errno = g_error;
        return -1;
    }
    return SafeFile::systemIo().fsync(fd);
}

int failingRename(const char *from, const char *to)
{
    if (g_failAt == 3) {
        errno = g_error;
        return -1;
    }
    return SafeFile::systemIo().rename(from, to);
}

} // namespace

class tst_SafeFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    /// Nothing but `expected` in `folder`: no temporary file left behind.
    static QStringList filesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot);
    }

private slots:
    void readSaysWhatIsWrong_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing"
                                 << "was not found";
        QTest::newRow("folder") << "folder"
                                << "is not a regular file";
        QTest::newRow("FIFO: never blocks") << "fifo"
                                            << "is not a regular file";
        QTest::newRow("socket") << "socket"
                                << "is not a regular file";
        QTest::newRow("link loop") << "loop"
                                   << "is not a regular file (its links form a loop)";
        QTest::newRow("unreadable") << "unreadable"
                                    << "cannot be read: Permission denied";
        QTest::newRow("regular, through a link") << "link"
                                                 << "read";
    }

    // A FIFO hung the program; a folder, FIFO, socket or link loop read as "was not
    // found", an unreadable file as an empty value.
    void readSaysWhatIsWrong()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orvtide.ini"));
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(mkfifo(name(path).constData(), 0666), 0);
        } else if (kind == QLatin1String("socket")) {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, name(path).constData(), sizeof address.sun_path);
            QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            close(fd);
        } else if (kind == QLatin1String("loop")) {
            QVERIFY(QFile::link(path, path + QStringLiteral(".2")));
            QVERIFY(QFile::link(path + QStringLiteral(".2"), path));
        } else if (kind == QLatin1String("unreadable")) {
            QVERIFY(writeFile(path, kOld));
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ExeOther));
        } else if (kind == QLatin1String("link")) {
            QVERIFY(writeFile(dir.filePath(QStringLiteral("etc/orvtide.ini")), kOld));
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("etc/orvtide.ini")), path));
        }
        QCOMPARE(readReason(path, kind == QLatin1String("unreadable")), reason);
    }

    void plantedLinksAreNeverWrittenThrough_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("written");
        QTest::newRow("a link to another user's file") << "symlink" << false;
        QTest::newRow("a hard link to another user's file") << "hardlink" << true;
        QTest::newRow("a FIFO") << "fifo" << false;
        QTest::newRow("a folder") << "folder" << false;
    }

    // The package's folder /etc/orvantide is writable by the settings group: a member
    // could put a link to another user's ~/.bashrc in place of the settings file, and
    // that user's next save appended a shell command to it.
    void plantedLinksAreNeverWrittenThrough()
    {
        QFETCH(QString, planted);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString victim = dir.filePath(QStringLiteral("home/.bashrc"));
        QVERIFY(writeFile(victim, "echo hello\n"));
        const QString target = dir.filePath(QStringLiteral("etc/orvtide.ini"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("etc"))));
        if (planted == QLatin1String("symlink"))
            QVERIFY(QFile::link(victim, target));
        else if (planted == QLatin1String("hardlink"))
            QCOMPARE(link(name(victim).constData(), name(target).constData()), 0);
        else if (planted == QLatin1String("fifo"))
            QCOMPARE(mkfifo(name(target).constData(), 0666), 0);
        else
            QVERIFY(QDir().mkdir(target));
        // The program folder's own link, as the package installs it.
        const QString settings = dir.filePath(QStringLiteral("lib/orvtide.ini"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("lib"))));
        QVERIFY(QFile::link(target, settings));

        QString reason;
        QCOMPARE(SafeFile::replace(settings, kNew, &reason), written);
        QCOMPARE(readFile(victim), QByteArray("echo hello\n"));
        QVERIFY(QFileInfo(settings).isSymLink());
        if (written)
            QCOMPARE(readFile(target), kNew);
        else
            QVERIFY2(reason.contains(target), qPrintable(reason));
        QCOMPARE(filesIn(dir.filePath(QStringLiteral("etc"))), QStringList{"orvtide.ini"});
    }

    // Qt's QSaveFile reported success although flushing failed: the settings file was
    // left empty and the user was told "Settings Done".
    void fullFileSystem()
    {
        QTemporaryDir dir;
        const QString mountPoint = dir.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkdir(mountPoint));
        if (mount("tmpfs", name(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting a small file system is not allowed here; the fault seam covers it");
        const auto unmount = qScopeGuard([&] { umount(name(mountPoint).constData()); });
        const QString path = mountPoint + QStringLiteral("/orvtide.ini");
        QVERIFY(writeFile(path, kOld));
        // Fill the file system.
        QFile filler(mountPoint + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        filler.close();

        QString reason;
        QVERIFY(!SafeFile::replace(path, kNew + QByteArray(8192, ';'), &reason));
        QVERIFY2(reason.contains(QLatin1String("No space left on device")), qPrintable(reason));
        QCOMPARE(readFile(path), kOld);
        QCOMPARE(filesIn(mountPoint), (QStringList{"filler", "orvtide.ini"}));
    }

    void eachStepIsChecked_data()
    {
        QTest::addColumn<int>("failAt");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("write: disk full") << 1 << ENOSPC << "No space left on device";
        QTest::newRow("write: I/O error") << 1 << EIO << "Input/output error";
        QTest::newRow("fsync: quota") << 2 << EDQUOT << "Disk quota exceeded";
        QTest::newRow("rename: read-only") << 3 << EROFS << "Read-only file system";
    }

    void eachStepIsChecked()
    {
        QFETCH(int, failAt);
        QFETCH(int, error);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orvtide.ini"));
        QVERIFY(writeFile(path, kOld));
        g_failAt = failAt;
        g_error = error;
        const SafeFile::Io io{failingWrite, failingFsync, failingRename};
        QString why;
        QVERIFY(!SafeFile::replace(path, kNew, &why, io));
        g_failAt = 0;
        QVERIFY2(why.contains(reason), qPrintable(why));
        QCOMPARE(readFile(path), kOld);
        QCOMPARE(filesIn(dir.path()), QStringList{"orvtide.ini"});
    }

    void replacementKeepsModeAndWritesNewFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orvtide.ini"));
        QVERIFY(SafeFile::replace(path, kOld, nullptr));
        QCOMPARE(readFile(path), kOld);
        QCOMPARE(chmod(name(path).constData(), 0664), 0);
        QVERIFY(SafeFile::replace(path, kNew, nullptr));
        QCOMPARE(readFile(path), kNew);
        struct stat st;
        QCOMPARE(stat(name(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0664));
    }
};

QTEST_GUILESS_MAIN(tst_SafeFile)
#include "tst_safefile.moc"
