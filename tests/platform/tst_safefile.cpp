// Reading and replacing the program's files on real file systems: what is not a regular
// file, a file the user may not read, links planted by another member of the settings
// group, a file system that fills, and each step of a replacement failing.

#include "platform/SafeFile.h"

#include "files.h"
#include "users.h"

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

/// SafeFile::read's reason for `path`, as another user when `asUser` (root reads any file).
QString readReason(const QString &path, bool asUser)
{
    const auto body = [&](const std::function<void()> &) {
        QString reason;
        return (SafeFile::read(path, nullptr, &reason) ? QStringLiteral("read") : reason).toUtf8();
    };
    if (!asUser || geteuid() != 0)
        return QString::fromUtf8(body({}));
    return QString::fromUtf8(Users::run(Users::kUser, {}, body));
}

int g_failAt = 0; ///< which call of the fault seam fails: 1 write, 2 fsync, 3 rename, 4 the
                  ///< folder's fsync after the rename
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
    struct stat st;
    const bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    if (g_failAt == (folder ? 4 : 2)) {
        errno = g_error;
        return -1;
    }
    return SafeFile::systemIo().fsync(fd);
}

int failingRename(int folder, const char *from, const char *to)
{
    if (g_failAt == 3) {
        errno = g_error;
        return -1;
    }
    return SafeFile::systemIo().rename(folder, from, to);
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
                                   << "which is a link: the settings are never read or written through a link found there";
        QTest::newRow("unreadable") << "unreadable"
                                    << "cannot be read: Permission denied";
        QTest::newRow("regular, through a link") << "link"
                                                 << "read";
    }

    // Reading never blocks on a FIFO, and says what is wrong: a folder, FIFO, socket or link
    // loop is no settings file, and an unreadable file is no empty one.
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
        const QString actual = readReason(path, kind == QLatin1String("unreadable"));
        QVERIFY2(actual.endsWith(reason), qPrintable(actual)); // the whole reason, or its end
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

    // The package's folder /etc/orvantide is writable by the settings group: a member can
    // put a link to another user's ~/.bashrc in place of the settings file, which a save
    // must never write through.
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

    void othersLinksAreRefused_data()
    {
        QTest::addColumn<QString>("link");   ///< where a link is put, in the shared folder
        QTest::addColumn<bool>("attackers"); ///< the other member of the group made it
        QTest::addColumn<bool>("afterStart"); ///< it appears while the program runs
        QTest::addColumn<bool>("written");
        QTest::newRow("the settings file, replaced by a link while the program runs")
            << "shared/orvtide.ini" << true << true << false;
        QTest::newRow("the settings file, the user's own link made while it runs")
            << "shared/orvtide.ini" << false << true << false;
        QTest::newRow("the settings file, another user's link at start-up")
            << "shared/orvtide.ini" << true << false << false;
        QTest::newRow("a folder on the way, another user's link at start-up")
            << "shared/hall" << true << false << false;
        QTest::newRow("the settings file, the user's own link at start-up")
            << "shared/orvtide.ini" << false << false << true;
    }

    // A member of the settings group can change the shared folder while another member's
    // program runs with --settings naming a file in it. Run as two real users: whatever
    // the other plants, the user's own file (mode 600, in a folder of mode 700) is never
    // read by a reload nor written by a save, and both refuse the link.
    void othersLinksAreRefused()
    {
        QFETCH(QString, link);
        QFETCH(bool, attackers);
        QFETCH(bool, afterStart);
        QFETCH(bool, written);
        if (geteuid() != 0)
            QSKIP("needs root, to act as two users");
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ExeOther));
        const auto own = [](const QString &path, uid_t uid, gid_t gid, mode_t mode) {
            return lchown(name(path).constData(), uid, gid) == 0 &&
                   (mode == 0 || chmod(name(path).constData(), mode) == 0);
        };
        const QString home = dir.filePath(QStringLiteral("home"));
        const QString victim = home + QStringLiteral("/hall.ini");
        QVERIFY(writeFile(victim, kOld));
        QVERIFY(own(home, Users::kUser, Users::kUser, 0700));
        QVERIFY(own(victim, Users::kUser, Users::kUser, 0600));
        const QString shared = dir.filePath(QStringLiteral("shared"));
        QVERIFY(writeFile(shared + QStringLiteral("/orvtide.ini"), kOld));
        QVERIFY(QDir().mkdir(shared + QStringLiteral("/hall")));
        QVERIFY(writeFile(shared + QStringLiteral("/hall/orvtide.ini"), kOld));
        QVERIFY(own(shared, 0, Users::dialout(), 02775));
        QVERIFY(own(shared + QStringLiteral("/orvtide.ini"), Users::kUser, Users::dialout(), 0664));
        const QString settings = link == QLatin1String("shared/hall")
                                     ? shared + QStringLiteral("/hall/orvtide.ini")
                                     : shared + QStringLiteral("/orvtide.ini");
        const QString planted = dir.filePath(link);
        const QString plantedTarget = link == QLatin1String("shared/hall") ? home : victim;
        const auto plant = [&] {
            QDir(planted).removeRecursively();
            QFile::remove(planted);
            QVERIFY(QFile::link(plantedTarget, planted));
            QVERIFY(own(planted, attackers ? Users::kAttacker : Users::kUser, Users::dialout(), 0));
        };
        if (!afterStart)
            plant();

        const QByteArray reason = Users::run(
            Users::kUser, {Users::dialout()},
            [&](const std::function<void()> &pause) {
                SafeFile::Entry file(settings);
                QString why;
                file.read(nullptr, &why); // start-up
                pause();
                // A reload, then a save.
                const QByteArray reread = file.read(nullptr, &why) ? "read" : why.toUtf8();
                return reread + '\n' +
                       (file.replace(kNew, &why) ? QByteArray("written") : why.toUtf8());
            },
            afterStart ? std::function<void()>(plant) : std::function<void()>());

        if (written) {
            QCOMPARE(reason, QByteArray("read\nwritten"));
            QCOMPARE(readFile(victim), kNew);
            return;
        }
        // A reload names the link it refuses, a save the settings file it leads from.
        const QList<QByteArray> refusals = reason.split('\n');
        QVERIFY2(refusals.value(0).contains("link"), reason.constData());
        QVERIFY2(refusals.value(1).contains(name(planted)), reason.constData());
        QCOMPARE(readFile(victim), kOld);
        QCOMPARE(filesIn(home), QStringList{"hall.ini"});
    }

    // A settings file is a few hundred bytes: a huge one is refused without being read
    // whole, so a reload neither stalls nor fills the memory.
    void hugeFileIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orvtide.ini"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(SafeFile::kMaxSize + 1));
        file.close();
        QString reason;
        QVERIFY(!SafeFile::read(path, nullptr, &reason));
        QVERIFY2(reason.contains(QLatin1String("too large")), qPrintable(reason));
        QVERIFY(file.resize(SafeFile::kMaxSize));
        QVERIFY(SafeFile::read(path, nullptr, &reason));
    }

    // A full file system is a failed save, reported with the system's reason, and the old
    // file stays whole (Qt's QSaveFile can report success after a failed flush).
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
        QTest::newRow("the folder's fsync: I/O error") << 4 << EIO << "Input/output error";
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
        if (failAt == 4) { // the new file is in place, but maybe not yet on the disk
            QVERIFY2(why.contains(QLatin1String("folder could not be flushed")), qPrintable(why));
            return;
        }
        QCOMPARE(readFile(path), kOld);
        QCOMPARE(filesIn(dir.path()), QStringList{"orvtide.ini"});
    }

    void replacementKeepsTheMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("kept");
        QTest::newRow("group-writable") << 0664 << 0664;
        QTest::newRow("set-user and set-group bits are never copied") << 06775 << 0775;
    }

    // A replacement has the file's mode, less what would let it run as its owner or group.
    void replacementKeepsTheMode()
    {
        QFETCH(int, mode);
        QFETCH(int, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orvtide.ini"));
        QVERIFY(SafeFile::replace(path, kOld, nullptr));
        QCOMPARE(readFile(path), kOld);
        QCOMPARE(chmod(name(path).constData(), mode_t(mode)), 0);
        QVERIFY(SafeFile::replace(path, kNew, nullptr));
        QCOMPARE(readFile(path), kNew);
        struct stat st;
        QCOMPARE(stat(name(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), kept);
    }
};

QTEST_GUILESS_MAIN(tst_SafeFile)
#include "tst_safefile.moc"
