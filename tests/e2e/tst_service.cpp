// The built program's service mode (--headless) against the display emulator on
// pseudo-terminals, with no display to connect to: as systemd runs it.

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "e2e/x11.h"
#include "files.h"
#include "platform/pty.h"
#include "platform/ser2net.h"
#include "users.h"

#include <QCryptographicHash>
#include <array>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

class tst_Service : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("display.ini")); }

    void writeSettings(const QString &port, const QByteArray &interval = "60")
    {
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Settings]\nCommPort=" + port.toUtf8() +
                   "\nSetting=9600,N,8,1\n[Sync]\nInterval=" + interval + "\n");
    }

    /// Starts a display emulator on a pty linked at `link`.
    static void startDisplay(QProcess &emulator, const QString &link)
    {
        emulator.start(qEnvironmentVariable("DISPLAY_EMULATOR_BIN"),
                       {QStringLiteral("--pty"), link, QStringLiteral("--json")});
        QVERIFY(emulator.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 10000);
    }

    /// Waits until `emulator` has reported a frame; its output so far goes to `seen`.
    static void waitForFrame(QProcess &emulator, QByteArray *seen)
    {
        QTRY_VERIFY_WITH_TIMEOUT((*seen += emulator.readAllStandardOutput()).contains("\"frame\""),
                                 20000);
    }

    /// The service's environment: no X server, no Wayland compositor, no platform chosen.
    static QProcessEnvironment serviceEnvironment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        return env;
    }

    /// The service as the units run it: the program built without the desktop. `program`
    /// may name the windowed program instead, which runs the same with --headless.
    static void startService(QProcess &service, const QString &settings,
                             const char *program = "ORVANTIDE_SERVICE_BIN")
    {
        service.setProcessEnvironment(serviceEnvironment());
        service.start(qEnvironmentVariable(program),
                      {QStringLiteral("--headless"), QStringLiteral("--settings"), settings});
        QVERIFY(service.waitForStarted());
    }

    /// Whether another program may take `device` now, as the service locks it.
    static bool portIsFree(const QString &device)
    {
        const int fd =
            ::open(QFile::encodeName(device).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        return free;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(qEnvironmentVariable("ORVANTIDE_BIN")).isExecutable(),
                 "ORVANTIDE_BIN names no program");
        QVERIFY2(QFileInfo(qEnvironmentVariable("ORVANTIDE_SERVICE_BIN")).isExecutable(),
                 "ORVANTIDE_SERVICE_BIN names no program");
    }

    // Start-up's frame, a SIGHUP that moves the service to another display, a second
    // instance refused, and a SIGTERM that ends it with status 0 and frees the port.
    void runsReloadsAndEnds()
    {
        const QString first = m_dir.filePath(QStringLiteral("first"));
        const QString second = m_dir.filePath(QStringLiteral("second"));
        QProcess firstDisplay;
        QProcess secondDisplay;
        CHECKED(startDisplay(firstDisplay, first));
        CHECKED(startDisplay(secondDisplay, second));
        writeSettings(first);

        QProcess service;
        CHECKED(startService(service, settingsPath()));
        QByteArray seen;
        CHECKED(waitForFrame(firstDisplay, &seen));

        // Another instance for the same file, named through a link and started as
        // `orvantide --headless`, says who runs.
        const QString alias = m_dir.filePath(QStringLiteral("alias.ini"));
        QVERIFY(QFile::link(settingsPath(), alias));
        QProcess another;
        CHECKED(startService(another, alias, "ORVANTIDE_BIN"));
        QVERIFY(another.waitForFinished(10000));
        QCOMPARE(another.exitCode(), 1);
        const QString said = QString::fromUtf8(another.readAllStandardError());
        QVERIFY2(
            said.contains(
                QStringLiteral("the service (--headless) (process %1)").arg(service.processId())),
            qPrintable(said));

        writeSettings(second);
        ::kill(pid_t(service.processId()), SIGHUP);
        QByteArray seenOnSecond;
        CHECKED(waitForFrame(secondDisplay, &seenOnSecond));
        QTRY_VERIFY(portIsFree(first));

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(portIsFree(second));
        // One line for each start-up, frame and reload.
        const QString log = QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(log.contains(QLatin1String("start-up: port ") + first), qPrintable(log));
        QVERIFY2(log.count(QLatin1String(" sent fe 10 ")) >= 2, qPrintable(log));
        QVERIFY2(log.contains(QLatin1String("SIGHUP: settings read again")), qPrintable(log));
        stopProcess(firstDisplay);
        stopProcess(secondDisplay);
    }

    // One service for a folder of settings files: each display on its own port and named
    // in its log lines, a port that takes nothing or a file that cannot be used stopping
    // none of the others, each display the single instance of its file, and a
    // SIGHUP that stops the display whose file went and starts the new one while the one
    // whose file is unchanged keeps its port and gets a frame.
    void aFolderOfDisplays()
    {
        QTemporaryDir folder;
        Pty stuck, hall, lab, added;
        const auto settings = [&](const char *name, const Pty &pty) {
            QFile file(folder.filePath(QLatin1String(name) + QLatin1String(".ini")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Settings]\nCommPort=" + pty.path.toUtf8() +
                       "\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        };
        // Nobody reads the stuck port, and its driver has no room left.
        ::fcntl(stuck.slave, F_SETFL, O_NONBLOCK);
        for (const char byte = 'x'; ::write(stuck.slave, &byte, 1) == 1;) {
        }
        CHECKED(settings("a-stuck", stuck));
        CHECKED(settings("hall", hall));
        CHECKED(settings("lab", lab));
        QFile broken(folder.filePath(QStringLiteral("broken.ini")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("[Sync]\nInterval=often\n");
        broken.close();
        QProcess service;
        service.setProcessEnvironment(serviceEnvironment());
        service.start(qEnvironmentVariable("ORVANTIDE_SERVICE_BIN"),
                      {QStringLiteral("--displays"), folder.path()});
        QVERIFY(service.waitForStarted());
        QByteArray log;
        const auto logged = [&](const QByteArray &text) {
            return (log += service.readAllStandardError()).contains(text);
        };
        QMap<int, QByteArray> got;
        const auto frames = [&got](const Pty &pty) {
            char buffer[64];
            for (ssize_t n; ::poll(std::array{pollfd{pty.master, POLLIN, 0}}.data(), 1, 0) > 0 &&
                            (n = ::read(pty.master, buffer, sizeof buffer)) > 0;)
                got[pty.master].append(buffer, int(n));
            return got[pty.master].count("\xfe\x10");
        };
        QTRY_COMPARE_WITH_TIMEOUT(frames(hall), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(frames(lab), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(logged("a-stuck: write failed: "), 20000);
        QVERIFY2(logged("broken: The settings file"), log.constData());

        // Each display is its file's single instance, which its window watches and asks.
        const QString hallFile = folder.filePath(QStringLiteral("hall.ini"));
        QProcess another;
        CHECKED(startService(another, hallFile));
        QVERIFY(another.waitForFinished(10000));
        QCOMPARE(another.exitCode(), 1);
        const QByteArray name = "orvantide-" + QCryptographicHash::hash(
                                                   QFileInfo(hallFile).canonicalFilePath().toUtf8(),
                                                   QCryptographicHash::Sha256)
                                                   .toHex()
                                                   .left(24);
        const int window = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
        QCOMPARE(::connect(window, reinterpret_cast<sockaddr *>(&address),
                           socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
                 0);
        QCOMPARE(::send(window, "watch\nsync\n", 11, MSG_NOSIGNAL), 11);
        QTRY_COMPARE_WITH_TIMEOUT(frames(hall), 2, 20000);
        QCOMPARE(::send(window, "reload\n", 7, MSG_NOSIGNAL), 7);
        QTRY_VERIFY_WITH_TIMEOUT(logged("): settings read again from " + hallFile.toUtf8()), 20000);
        ::close(window);

        QVERIFY(QFile::remove(folder.filePath(QStringLiteral("lab.ini"))));
        CHECKED(settings("added", added));
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT(frames(added), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(frames(hall), 4, 20000);
        QTRY_VERIFY(portIsFree(lab.path));
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 0);
        logged("");
        // Hall's port opened at start-up and at its window's reload, not at the SIGHUP.
        for (const auto &[line, times] : {std::pair("hall: port open: ", 2),
                                          {"lab: settings file gone", 1},
                                          {"added: port open", 1}})
            QVERIFY2(log.count(line) == times, log.constData());
    }

    // A display behind a device server, reached by the server's name through RFC 2217.
    void aDisplayOnTheNetwork()
    {
        const QString link = m_dir.filePath(QStringLiteral("networked"));
        QProcess display;
        CHECKED(startDisplay(display, link));
        Ser2net server;
        QVERIFY(server.start(QFileInfo(link).symLinkTarget(), true));
        writeSettings(QStringLiteral("rfc2217://localhost:%1").arg(server.port));
        QProcess service;
        CHECKED(startService(service, settingsPath()));
        QByteArray seen;
        CHECKED(waitForFrame(display, &seen));
        stopProcess(service);
        stopProcess(display);
    }

    // The windowed program runs for the file: a service for the same file says so and
    // ends with status 1, sending nothing.
    void serviceBesideTheWindowedProgram()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"),
                 "no X server: DISPLAY is not set (scripts/test runs the tests under xvfb-run)");
        const QString link = m_dir.filePath(QStringLiteral("windowed"));
        QProcess display;
        CHECKED(startDisplay(display, link));
        writeSettings(link);
        QProcess windowed;
        windowed.setProcessEnvironment(programEnvironment());
        windowed.start(qEnvironmentVariable("ORVANTIDE_BIN"),
                       {QStringLiteral("--settings"), settingsPath()});
        QVERIFY(windowed.waitForStarted());
        QByteArray seen;
        CHECKED(waitForFrame(display, &seen));

        QProcess service;
        CHECKED(startService(service, settingsPath()));
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 1);
        const QString said = QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(said.contains(
                     QStringLiteral("the windowed program (process %1)").arg(windowed.processId())),
                 qPrintable(said));
        QCOMPARE((seen += display.readAllStandardOutput()).count("\"frame\""), 1);
        stopProcess(windowed);
        stopProcess(display);
    }

    void standardErrorNeverStopsIt_data()
    {
        QTest::addColumn<bool>("readerGone");
        QTest::newRow("a reader that went away (| head -c 10)") << true;
        QTest::newRow("a full pipe nobody reads") << false;
    }

    // Whoever reads standard error may go away or stop reading: frames, reloads and the
    // end on SIGTERM go on all the same.
    void standardErrorNeverStopsIt()
    {
        QFETCH(bool, readerGone);
        const QString link = m_dir.filePath(QStringLiteral("stderr"));
        QProcess display;
        CHECKED(startDisplay(display, link));
        writeSettings(link);
        int log[2];
        QCOMPARE(pipe2(log, O_CLOEXEC | O_NONBLOCK), 0);
        if (readerGone) {
            ::close(log[0]);
            log[0] = -1;
        } else {
            while (::write(log[1], "x", 1) == 1) {
            }
        }
        QCOMPARE(fcntl(log[1], F_SETFL, 0), 0); // the service's writes would block
        QProcess service;
        const int logEnd = log[1];
        service.setChildProcessModifier([logEnd] { ::dup2(logEnd, 2); });
        CHECKED(startService(service, settingsPath()));
        ::close(log[1]);
        QByteArray seen;
        CHECKED(waitForFrame(display, &seen));
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT((seen += display.readAllStandardOutput()).count("\"frame\""), 2,
                                  20000);
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        if (log[0] >= 0)
            ::close(log[0]);
        stopProcess(display);
    }

    // systemd hears that the service is ready, how it is (what `systemctl status` shows),
    // when it reloads, and that its main loop runs.
    void tellsSystemdHowItIs()
    {
        const QString link = m_dir.filePath(QStringLiteral("notified"));
        QProcess display;
        CHECKED(startDisplay(display, link));
        writeSettings(link);
        const QByteArray socketPath = QFile::encodeName(m_dir.filePath(QStringLiteral("notify")));
        const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        QCOMPARE(bind(notify, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QList<QByteArray> told;
        const auto heard = [&](const QByteArray &what) {
            char buffer[4096];
            for (ssize_t n; (n = recv(notify, buffer, sizeof buffer, 0)) > 0;)
                told << QByteArray(buffer, int(n));
            for (const QByteArray &message : told) {
                if (message.contains(what))
                    return true;
            }
            return false;
        };
        QProcess service;
        QProcessEnvironment env = serviceEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromUtf8(socketPath));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
        service.setProcessEnvironment(env);
        service.start(qEnvironmentVariable("ORVANTIDE_SERVICE_BIN"),
                      {QStringLiteral("--settings"), settingsPath()});
        QVERIFY(service.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(heard("READY=1\nSTATUS=last frame "), 20000);
        told.removeAll("WATCHDOG=1");
        QVERIFY2(told.first().startsWith("READY=1\nSTATUS="), told.first().constData());
        QTRY_VERIFY_WITH_TIMEOUT(heard("WATCHDOG=1"), 20000);
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(heard("RELOADING=1"), 20000);
        told.erase(told.begin(), std::find_if(told.begin(), told.end(), [](const QByteArray &m) {
                       return m.startsWith("RELOADING=1");
                   }));
        QTRY_VERIFY_WITH_TIMEOUT(heard("READY=1"), 20000);
        stopProcess(display); // the display goes away
        QTRY_VERIFY_WITH_TIMEOUT(heard("STATUS=port not open: "), 20000);
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        ::close(notify);
    }

    // Any user can take the instance name of a settings file first; the service starts all
    // the same and says who holds it.
    void aNameTakenByAnotherUserNeverStopsIt()
    {
        if (geteuid() != 0)
            QSKIP("needs root, to act as another user");
        const QString link = m_dir.filePath(QStringLiteral("squatted"));
        QProcess display;
        CHECKED(startDisplay(display, link));
        writeSettings(link);
        const QByteArray name =
            "orvantide-" +
            QCryptographicHash::hash(QFileInfo(settingsPath()).canonicalFilePath().toUtf8(),
                                     QCryptographicHash::Sha256)
                .toHex()
                .left(24);
        QProcess service;
        QByteArray seen;
        const QByteArray squatter = Users::run(
            Users::kAttacker, {},
            [&](const std::function<void()> &pause) {
                const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
                if (bind(fd, reinterpret_cast<sockaddr *>(&address),
                         socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())) != 0 ||
                    listen(fd, 1) != 0)
                    return QByteArray("cannot take the name");
                pause();
                return QByteArray::number(getpid());
            },
            [&] {
                startService(service, settingsPath());
                waitForFrame(display, &seen);
            });
        QVERIFY2(squatter.toLongLong() > 0, squatter.constData());
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(seen.contains("\"frame\""));
        const QString log = QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("(process %1, user %2)")
                                  .arg(QString::fromUtf8(squatter))
                                  .arg(Users::kAttacker)),
                 qPrintable(log));
        stopProcess(display);
    }

    void storingAPort_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); ///< on standard error
        QTest::newRow("a port number") << "5" << 0 << "";
        QTest::newRow("no port") << "x y" << 2 << "\"x y\" names no serial port";
    }

    // --set-port stores a port as SET does and nothing else: every other line stays; a
    // text that names no port is refused and the file left as it was.
    void storingAPort()
    {
        QFETCH(QString, port);
        QFETCH(int, status);
        QFETCH(QString, said);
        writeSettings(QStringLiteral("1"), "15");
        const QByteArray before = readFile(settingsPath());
        QProcess program;
        program.setProcessEnvironment(serviceEnvironment());
        program.start(
            qEnvironmentVariable("ORVANTIDE_SERVICE_BIN"),
            {QStringLiteral("--settings"), settingsPath(), QStringLiteral("--set-port"), port});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), status);
        QVERIFY(QString::fromUtf8(program.readAllStandardError()).contains(said));
        QCOMPARE(readFile(settingsPath()),
                 status == 0 ? QByteArray(before).replace("CommPort=1", "CommPort=" + port.toUtf8())
                             : before);
    }

    void badSettingsEndWithStatus2_data()
    {
        QTest::addColumn<QByteArray>("interval"); ///< null: no settings file
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << QByteArray() << "\" was not found.";
        QTest::newRow("bad interval") << QByteArray("often") << "key Interval: \"often\"";
    }

    void badSettingsEndWithStatus2()
    {
        QFETCH(QByteArray, interval);
        QFETCH(QString, message);
        QFile::remove(settingsPath());
        if (!interval.isNull())
            writeSettings(QStringLiteral("/dev/ttyS0"), interval);
        const QByteArray before = [&] {
            QFile file(settingsPath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        QProcess service;
        CHECKED(startService(service, settingsPath()));
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 2);
        const QString said = QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(said.contains(QLatin1Char('"') + settingsPath()) && said.contains(message),
                 qPrintable(said));
        QFile file(settingsPath());
        QCOMPARE(file.exists(), !interval.isNull());
        if (file.open(QIODevice::ReadOnly))
            QCOMPARE(file.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
