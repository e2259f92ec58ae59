// The instance name in the abstract namespace, which every user of the machine can reach:
// strangers are answered and never heard, a request is one short line, and neither a
// flood nor running out of descriptors ends the listening. Anyone may watch a service;
// only who may write its settings file and folder asks it for frames and reloads.

#include "platform/SingleInstance.h"

#include "users.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

const QString kSettings = QStringLiteral("/nonexistent/orvantide-test/orvtide.ini");

/// A client of the instance's socket, not blocking.
int connectTo(const QString &settingsFile)
{
    const QByteArray name = SingleInstance::socketName(settingsFile).toUtf8();
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/// What the instance says on `fd` until its line end or the connection's end, the event
/// loop running meanwhile.
QByteArray answerOn(int fd)
{
    QByteArray got;
    QDeadlineTimer deadline(10000);
    while (!got.contains('\n') && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        char buffer[64];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            got.append(buffer, int(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break; // closed, or reset with bytes it did not read
    }
    return got;
}

} // namespace

class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    // A second start names the settings file itself, not the link it was given (the
    // packaged program's file is a link to /etc/orvantide), and who runs for it.
    void aSecondStartNamesTheFileItself()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("orvtide.ini"));
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        const QString link = dir.filePath(QStringLiteral("link.ini"));
        QVERIFY(QFile::link(file, link));
        SingleInstance::Other other;
        other.answered = true;
        other.kind = SingleInstance::Kind::Headless;
        other.pid = 42;
        QCOMPARE(SingleInstance::alreadyRuns(link, other),
                 QStringLiteral("Orvantide already runs for the settings file \"%1\": the "
                                "service (--headless) (process 42).")
                     .arg(QFileInfo(file).canonicalFilePath()));
    }

    void requestsAreHeardFromTheSameUserOnly_data()
    {
        QTest::addColumn<uid_t>("uid");
        QTest::addColumn<int>("shown");
        QTest::newRow("another user, even of the same group") << Users::kAttacker << 0;
        QTest::newRow("the same user") << geteuid() << 1;
    }

    // Anyone can reach the name; only the user's own second start may bring the window
    // forward (and with it take the keyboard).
    void requestsAreHeardFromTheSameUserOnly()
    {
        QFETCH(uid_t, uid);
        QFETCH(int, shown);
        if (uid != geteuid() && geteuid() != 0)
            QSKIP("needs root, to act as another user");
        SingleInstance instance(kSettings, SingleInstance::Kind::Windowed);
        SingleInstance::Other other;
        QVERIFY(instance.claim(&other));
        QSignalSpy show(&instance, &SingleInstance::showRequested);
        // Connecting and asking need no answer first: the system keeps the connection.
        const QByteArray sent = Users::run(uid, {Users::dialout()}, [](const auto &) {
            const int fd = connectTo(kSettings);
            const bool ok = fd >= 0 && send(fd, "show\n", 5, MSG_NOSIGNAL) == 5;
            return ok ? QByteArray("sent") : QByteArray(strerror(errno));
        });
        QCOMPARE(sent, QByteArray("sent"));
        // The user's own start, after it: once it is heard, the other was dealt with.
        const int own = connectTo(kSettings);
        QVERIFY(answerOn(own).startsWith("windowed "));
        QCOMPARE(send(own, "show\n", 5, MSG_NOSIGNAL), ssize_t(5));
        QTRY_COMPARE(show.count(), shown + 1);
        close(own);
    }

    void whoMayChangeTheService_data()
    {
        QTest::addColumn<uid_t>("owner"); ///< of the file and its folder
        QTest::addColumn<gid_t>("group");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<uid_t>("peer");
        QTest::addColumn<bool>("member"); ///< the peer is in the group besides its own
        QTest::addColumn<bool>("heard");
        const uid_t user = Users::kUser;
        const uid_t other = Users::kAttacker;
        const gid_t dialout = Users::dialout();
        // As the package installs it: root's, the group dialout's to change.
        QTest::newRow("a member of the group") << 0u << dialout << 0664 << 02775 << user << true << true;
        QTest::newRow("a member, the folder not the group's to change")
            << 0u << dialout << 0664 << 0755 << user << true << false;
        QTest::newRow("a member, the file not the group's to change")
            << 0u << dialout << 0644 << 02775 << user << true << false;
        QTest::newRow("a user outside the group") << 0u << dialout << 0664 << 02775 << other << false << false;
        QTest::newRow("the group its own, as the peer's first group")
            << 0u << gid_t(user) << 0664 << 0775 << user << false << true;
        QTest::newRow("the owner") << user << gid_t(user) << 0644 << 0755 << user << false << true;
        QTest::newRow("the owner, whose bits forbid what the group's allow")
            << user << dialout << 0464 << 0775 << user << true << false;
        QTest::newRow("everyone's to change") << 0u << dialout << 0666 << 0777 << other << false << true;
        QTest::newRow("root, whatever the modes") << user << gid_t(user) << 0444 << 0555 << 0u << false << true;
    }

    // A watcher hears whether they may change the service; one who may asks for a frame
    // and a reload and is heard, one who may not is refused with who may.
    void whoMayChangeTheService()
    {
        QFETCH(uid_t, owner);
        QFETCH(gid_t, group);
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QFETCH(uid_t, peer);
        QFETCH(bool, member);
        QFETCH(bool, heard);
        if (geteuid() != 0)
            QSKIP("needs root, to act as another user");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("orvantide"));
        const QString file = folder + QStringLiteral("/orvtide.ini");
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        for (const auto &[path, mode] : {std::pair(file, fileMode), std::pair(folder, folderMode)}) {
            QCOMPARE(chown(QFile::encodeName(path).constData(), owner, group), 0);
            QCOMPARE(chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        }
        SingleInstance instance(file, SingleInstance::Kind::Headless);
        SingleInstance::Other other;
        QVERIFY(instance.claim(&other));
        instance.setStateForWatchers([] { return QByteArray("started\n"); });
        QSignalSpy syncs(&instance, &SingleInstance::syncRequested);
        QSignalSpy reloads(&instance, &SingleInstance::reloadRequested);
        static int refusals;
        refusals = 0;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) {
                refusals += message.startsWith(QLatin1String("refused"));
            });
        const auto restore = qScopeGuard([&] { qInstallMessageHandler(previous); });
        const std::vector<gid_t> groups =
            member ? std::vector<gid_t>{Users::dialout()} : std::vector<gid_t>{};
        const QByteArray told = Users::run(
            peer, groups,
            [&](const std::function<void()> &pause) {
                const int fd = connectTo(file);
                if (fd < 0 || send(fd, "watch\nsync\nreload\n", 19, MSG_NOSIGNAL) != 19)
                    return QByteArray("cannot ask");
                pause();
                // Everything was said while this process waited.
                char buffer[4096];
                const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                return QByteArray(buffer, int(std::max<ssize_t>(n, 0)));
            },
            [&] { QTRY_VERIFY(syncs.count() + reloads.count() + refusals == 2); });
        const QList<QByteArray> lines = told.split('\n');
        QVERIFY2(lines.value(0).startsWith("headless "), told.constData());
        QCOMPARE(lines.value(1).startsWith("may 1"), heard);
        QCOMPARE(lines.value(2), QByteArray("started"));
        QCOMPARE(syncs.count(), heard ? 1 : 0);
        QCOMPARE(reloads.count(), heard ? 1 : 0);
        if (!heard) {
            const QString why = QString::fromUtf8(QByteArray::fromPercentEncoding(lines.value(1)));
            QVERIFY2(why.contains(QStringLiteral("(root")), qPrintable(why));
            QCOMPARE(why.contains(QLatin1String("the members of the group")), bool(fileMode & 020));
        }
    }

    void aRequestIsOneShortLine_data()
    {
        QTest::addColumn<int>("padding");
        QTest::addColumn<int>("shown");
        // "show" and its line end after blanks: 64 bytes in all are heard, 65 are not.
        QTest::newRow("64 bytes") << 59 << 1;
        QTest::newRow("65 bytes") << 60 << 0;
    }

    // A request is one line of at most 64 bytes: a longer one is cut off as soon as it
    // passes them, and the listening goes on.
    void aRequestIsOneShortLine()
    {
        QFETCH(int, padding);
        QFETCH(int, shown);
        SingleInstance instance(kSettings, SingleInstance::Kind::Windowed);
        SingleInstance::Other other;
        QVERIFY(instance.claim(&other));
        QSignalSpy show(&instance, &SingleInstance::showRequested);
        const int fd = connectTo(kSettings);
        QVERIFY(answerOn(fd).startsWith("windowed "));
        const QByteArray request = QByteArray(padding, ' ') + "show\n";
        qint64 sent = 0;
        while (sent < request.size()) {
            QCoreApplication::processEvents();
            const ssize_t n = send(fd, request.constData() + sent, size_t(request.size() - sent),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += n;
            else if (errno != EAGAIN)
                break; // cut off
        }
        // The instance closes the connection once it has heard, or given up on, the line.
        QCOMPARE(answerOn(fd), QByteArray());
        close(fd);
        QCOMPARE(show.count(), shown);
        QVERIFY(answerOn(connectTo(kSettings)).startsWith("windowed "));
    }

    // Connections that use up every descriptor of the process do not end the listening:
    // once some are closed, the next start is answered.
    void runningOutOfDescriptors()
    {
        SingleInstance instance(kSettings, SingleInstance::Kind::Headless);
        SingleInstance::Other other;
        QVERIFY(instance.claim(&other));
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &saved); });
        rlimit low = saved;
        low.rlim_cur = rlim_t(QDir(QStringLiteral("/proc/self/fd")).count() + 40);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        QList<int> clients;
        int error = 0;
        while (error != EMFILE) {
            const int fd = connectTo(kSettings);
            error = fd < 0 ? errno : 0;
            if (fd >= 0)
                clients << fd;
            for (int round = 0; round < 3; ++round)
                QCoreApplication::processEvents();
            QVERIFY2(error == 0 || error == EAGAIN || error == EMFILE, strerror(error));
        }
        for (int i = 0; i < 20 && !clients.isEmpty(); ++i)
            close(clients.takeLast());
        const int fd = connectTo(kSettings);
        QVERIFY(fd >= 0);
        QVERIFY(answerOn(fd).startsWith("headless "));
        close(fd);
        for (const int client : clients)
            close(client);
    }
};

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
