#include "core/fakes.h"
#include "files.h"
#include "platform/pty.h"
#include "users.h"

#include "core/LineSettings.h"
#include "core/PortNames.h"
#include "core/Synchroniser.h"
#include "core/TimeFrame.h"
#include "platform/DeviceFolderWatch.h"
#include "platform/PosixSerialLink.h"
#include "platform/SerialPorts.h"
#include "core/Reason.h"
#include "platform/SystemText.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <csignal>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray kFrame("\xFE\x10\x09\x05\x0E\xFF", 6);

/// A driver that takes at most two bytes a call, as a busy one may.
ssize_t writeTwoBytes(int fd, const void *data, size_t size)
{
    return ::write(fd, data, std::min<size_t>(size, 2));
}

Settings settingsFor(const QString &commPort)
{
    Settings settings;
    settings.commPort = commPort;
    settings.lineSettings = QStringLiteral("9600,N,8,1");
    settings.interval = 60;
    return settings;
}

} // namespace

class tst_SerialLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

    // Under German the system's own messages are German; the reasons, which the log
    // carries, take them in English all the same, and a window says them in German.
    void reasonsAreEnglishInEveryLanguage()
    {
        QTemporaryDir locales;
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
        QVERIFY(localedef.waitForFinished(60'000));
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
        qputenv("LANGUAGE", "de");
        const auto back = qScopeGuard([] {
            std::setlocale(LC_ALL, "C.UTF-8");
            qunsetenv("LOCPATH");
            qunsetenv("LANGUAGE");
        });
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8"));
        QCOMPARE(QString::fromUtf8(std::strerror(ENOENT)),
                 QStringLiteral("Datei oder Verzeichnis nicht gefunden"));

        PosixSerialLink link;
        QString error;
        QVERIFY(!link.open(QStringLiteral("/dev/orvantide-none"), LineSettings(), &error));
        QVERIFY2(error.endsWith(QLatin1String(": No such file or directory")), qPrintable(error));
        QCOMPARE(resolverErrorText(EAI_NONAME), QStringLiteral("Name or service not known"));
        const auto untranslated = [](const char *english) { return QString::fromUtf8(english); };
        QCOMPARE(Reason::translated(error, untranslated),
                 QStringLiteral("Could not open /dev/orvantide-none: Datei oder Verzeichnis "
                                "nicht gefunden"));
        QCOMPARE(Reason::translated(resolverErrorText(EAI_NONAME), untranslated),
                 QString::fromUtf8(gai_strerror(EAI_NONAME)));
        QVERIFY(QString::fromUtf8(gai_strerror(EAI_NONAME)) != resolverErrorText(EAI_NONAME));
    }

    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<double>("bitsPerCharacter");

        QTest::newRow("9600,N,8,1")
            << "9600,N,8,1" << true << 9600 << int(LineSettings::Parity::None) << 8
            << int(LineSettings::StopBits::One) << 10.0;
        QTest::newRow("lower-case even")
            << "19200,e,7,2" << true << 19200 << int(LineSettings::Parity::Even) << 7
            << int(LineSettings::StopBits::Two) << 11.0;
        QTest::newRow("odd, 1.5 stop")
            << "1200,O,5,1.5" << true << 1200 << int(LineSettings::Parity::Odd) << 5
            << int(LineSettings::StopBits::OneAndHalf) << 8.5;
        QTest::newRow("mark") << "300,m,6,1" << true << 300 << int(LineSettings::Parity::Mark) << 6
                              << int(LineSettings::StopBits::One) << 9.0;
        QTest::newRow("space, blanks")
            << " 4800 , S , 8 , 1 " << true << 4800 << int(LineSettings::Parity::Space) << 8
            << int(LineSettings::StopBits::One) << 11.0;
        for (const char *bad : {"", "9600", "9600,N,8", "9600,N,8,1,1", "0,N,8,1", "-9600,N,8,1",
                                "96x0,N,8,1", "9600,X,8,1", "9600,NN,8,1", "9600,N,4,1",
                                "9600,N,9,1", "9600,N,8,3", "9600,N,8,1.0", "9600,N,8,"})
            QTest::newRow(bad) << bad << false << 0 << 0 << 0 << 0 << 0.0;
    }

    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        LineSettings s;
        QString error;
        QCOMPARE(LineSettings::parse(text, &s, &error), valid);
        if (!valid) {
            QVERIFY2(error.contains(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(error));
            return;
        }
        QTEST(int(s.baudRate), "baud");
        QTEST(int(s.parity), "parity");
        QTEST(int(s.dataBits), "dataBits");
        QTEST(int(s.stopBits), "stopBits");
        QTEST(s.bitsPerCharacter(), "bitsPerCharacter");
    }

    void portNames_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("first") << 1 << "/dev/ttyS0";
        QTest::newRow("sixth") << 6 << "/dev/ttyS5";
        QTest::newRow("zero names none") << 0 << "";
        QTest::newRow("negative names none") << -3 << "";
    }

    void portNames()
    {
        QFETCH(int, number);
        QFETCH(QString, device);
        QCOMPARE(PortNames::deviceForNumber(number), device);
    }

    // A USB adapter is offered under its /dev/serial/by-id name, which stays the same
    // whichever socket it is plugged into; a pty stands in for the adapter.
    void stableNamesAreOffered()
    {
        Pty adapter;
        QTemporaryDir byId;
        const QString stable =
            byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
        QVERIFY(QFile::link(adapter.path, stable));
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyUSB9"),
                            byId.filePath(QStringLiteral("dangling"))));
        const QList<PortChoice> ports = SerialPorts::available(byId.path());
        const auto found = std::find_if(ports.cbegin(), ports.cend(), [&](const PortChoice &port) {
            return port.value == stable;
        });
        QVERIFY(found != ports.cend());
        QCOMPARE(found->device, QFileInfo(adapter.path).canonicalFilePath());
        for (const PortChoice &port : ports)
            QVERIFY2(!port.value.endsWith(QLatin1String("dangling")), qPrintable(port.value));
        // The stable name works as a port.
        PosixSerialLink link;
        QString error;
        QVERIFY2(link.open(stable, LineSettings(), &error), qPrintable(error));
        QVERIFY(link.write(kFrame, &error));
        QCOMPARE(adapter.read(6), kFrame);
    }

    // A driver with no room left: the write waits until the line has taken the bytes, and
    // only then reports them written.
    void writeWaitsForAFullDriver()
    {
        Pty pty;
        PosixSerialLink link;
        QString error;
        QVERIFY2(link.open(pty.path, LineSettings(), &error), qPrintable(error));
        QByteArray filler;
        for (;;) {
            const char byte = 'x';
            if (::write(link.descriptor(), &byte, 1) != 1)
                break;
            filler += byte;
        }
        QCOMPARE(errno, EAGAIN);
        QByteArray received;
        std::thread reader([&] { received = pty.read(int(filler.size() + kFrame.size())); });
        const bool written = link.write(kFrame, &error);
        reader.join();
        QVERIFY2(written, qPrintable(error));
        QCOMPARE(received.size(), filler.size() + kFrame.size());
        QVERIFY(received.endsWith(kFrame));
    }

    // A driver may take part of a write: the rest follows, in order, before the frame
    // counts as written.
    void shortWritesAreFinished()
    {
        Pty pty;
        static const PosixSerialLink::Io twoBytes{writeTwoBytes, ::poll};
        PosixSerialLink link(twoBytes);
        QString error;
        QVERIFY2(link.open(pty.path, LineSettings(), &error), qPrintable(error));
        QVERIFY2(link.write(kFrame, &error), qPrintable(error));
        QCOMPARE(pty.read(6), kFrame);
    }

    void terminalsAreRefused_data()
    {
        QTest::addColumn<int>("major"); ///< 0: a pseudo-terminal that is a session's own
        QTest::addColumn<int>("minor");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the controlling terminal, /dev/tty") << 5 << 0 << "not a serial line";
        QTest::newRow("the console") << 5 << 1 << "not a serial line";
        QTest::newRow("a virtual console, /dev/tty1") << 4 << 1 << "not a serial line";
        QTest::newRow("a shell's terminal") << 0 << 0 << "it is the terminal of process";
    }

    // Frames written into a terminal land in a user's session and leave it raw.
    void terminalsAreRefused()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        Pty pty;
        QString device = pty.path;
        pid_t session = 0;
        int ready[2];
        QCOMPARE(pipe(ready), 0);
        if (major > 0) {
            device = dir.filePath(QStringLiteral("terminal"));
            if (mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600,
                      makedev(major, minor)) != 0)
                QSKIP("making a device node needs root");
        } else {
            session = fork();
            if (session == 0) { // a shell's session, with the pty as its terminal
                // Its name is its own to choose: one that clears a terminal and sets
                // its title.
                prctl(PR_SET_NAME, "\x1b[2J\x1b]0;x\x07");
                setsid();
                ioctl(pty.slave, TIOCSCTTY, 0);
                close(ready[0]);
                (void)!write(ready[1], "r", 1);
                pause();
                _exit(0);
            }
            char c;
            QCOMPARE(read(ready[0], &c, 1), ssize_t(1));
        }
        PosixSerialLink link;
        QString error;
        const bool opened = link.open(device, LineSettings(), &error);
        if (session > 0) {
            kill(session, SIGKILL);
            waitpid(session, nullptr, 0);
        }
        close(ready[0]);
        close(ready[1]);
        QVERIFY(!opened);
        QVERIFY2(error.startsWith(QStringLiteral("Could not open %1: ").arg(device)) &&
                     error.contains(reason),
                 qPrintable(error));
        if (session > 0) {
            QVERIFY2(error.contains(QString::number(session)), qPrintable(error));
            QVERIFY2(error.contains(QLatin1String("(\\x1b[2J\\x1b]0;x\\x07)")),
                     qPrintable(error));
            // Once the session is gone, the pty is a line like any other.
            QVERIFY2(link.open(device, LineSettings(), &error), qPrintable(error));
        }
    }

    void bytesArriveOnThePty()
    {
        Pty pty;
        PosixSerialLink link;
        QString error;
        QVERIFY2(link.open(pty.path, LineSettings(), &error), qPrintable(error));
        QVERIFY(link.isOpen());
        QVERIFY2(link.write(kFrame, &error), qPrintable(error));
        QVERIFY2(link.write(kFrame, &error), qPrintable(error));
        QCOMPARE(pty.read(12), kFrame + kFrame);
        link.close();
        QVERIFY(!link.isOpen());
    }

    void missingDevice()
    {
        PosixSerialLink link;
        QString error;
        QVERIFY(!link.open(QStringLiteral("/dev/orvantide-no-such-tty"), LineSettings(), &error));
        QVERIFY(!link.isOpen());
        QVERIFY2(error.startsWith(QLatin1String("Could not open /dev/orvantide-no-such-tty: ")),
                 qPrintable(error));
    }

    // A user outside the port's group is told which group to join.
    void permissionDeniedNamesTheGroup()
    {
        if (geteuid() != 0)
            QSKIP("needs root to give the port to the group and become another user");
        Pty pty;
        const QByteArray path = QFile::encodeName(pty.path);
        QVERIFY(::chown(path.constData(), 0, Users::dialout()) == 0);
        QVERIFY(::chmod(path.constData(), 0660) == 0);
        const QByteArray error = Users::run(Users::kUser, {}, [&](const auto &) {
            PosixSerialLink link;
            QString why;
            return link.open(pty.path, LineSettings(), &why) ? QByteArray("opened") : why.toUtf8();
        });
        QCOMPARE(error, "Could not open " + path +
                            ": Permission denied. Only members of the group \"" +
                            QByteArray(getgrgid(Users::dialout())->gr_name) +
                            "\" may use it: add your user to that group (sudo adduser $USER " +
                            getgrgid(Users::dialout())->gr_name + ") and log in again.");
    }

    void lineSettingsReachTheDevice_data()
    {
        // A pty keeps only some of them: Linux forces 8 data bits and clears PARENB there.
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("cflags"); ///< stop bits and the kind of parity
        QTest::newRow("9600,N,8,1") << "9600,N,8,1" << int(B9600) << 0;
        QTest::newRow("19200,E,7,2") << "19200,E,7,2" << int(B19200) << int(CSTOPB);
        QTest::newRow("4800,O,8,1") << "4800,O,8,1" << int(B4800) << int(PARODD);
        QTest::newRow("1200,M,5,1") << "1200,M,5,1" << int(B1200) << int(PARODD | CMSPAR);
        QTest::newRow("115200,S,6,1") << "115200,S,6,1" << int(B115200) << int(CMSPAR);
    }

    // The baud rate or parity not applied on open would go unnoticed on a pty; the
    // device's own termios tells.
    void lineSettingsReachTheDevice()
    {
        QFETCH(QString, text);
        QFETCH(int, speed);
        QFETCH(int, cflags);
        Pty pty;
        LineSettings settings;
        QVERIFY(LineSettings::parse(text, &settings, nullptr));
        PosixSerialLink link;
        QString error;
        QVERIFY2(link.open(pty.path, settings, &error), qPrintable(error));
        struct termios tio;
        QCOMPARE(tcgetattr(pty.master, &tio), 0);
        QCOMPARE(int(cfgetospeed(&tio)), speed);
        QCOMPARE(int(tio.c_cflag & (CSTOPB | PARODD | CMSPAR)), cflags);
        QVERIFY(!(tio.c_cflag & CRTSCTS));
    }

    void heldPortIsInUse_data()
    {
        QTest::addColumn<bool>("throughALink");
        QTest::newRow("the same name") << false;
        QTest::newRow("another name for the same device") << true;
    }

    // A second writer to one display garbles its frames; the message says who holds it.
    void heldPortIsInUse()
    {
        QFETCH(bool, throughALink);
        Pty pty;
        QTemporaryDir dir;
        QString other = pty.path;
        if (throughALink) {
            other = dir.filePath(QStringLiteral("display"));
            QVERIFY(QFile::link(pty.path, other));
        }
        PosixSerialLink first;
        PosixSerialLink second;
        QString error;
        QVERIFY2(first.open(pty.path, LineSettings(), &error), qPrintable(error));
        QVERIFY(!second.open(other, LineSettings(), &error));
        QCOMPARE(error, QStringLiteral("Could not open %1: it is in use by another program "
                                       "(process %2).")
                            .arg(other)
                            .arg(QCoreApplication::applicationPid()));
        // The first keeps working.
        QVERIFY(first.write(kFrame, &error));
        QCOMPARE(pty.read(6), kFrame);
        first.close();
        QVERIFY2(second.open(other, LineSettings(), &error), qPrintable(error));
    }

    // A killed instance leaves nothing behind that stops another user's instance (a lock
    // file in /run/lock would, as that user cannot remove it).
    void killedHolderLeavesNothingBehind()
    {
        Pty pty;
        QCOMPARE(chmod(QFile::encodeName(pty.path).constData(), 0666), 0);
        int ready[2];
        QCOMPARE(pipe(ready), 0);
        const pid_t holder = fork();
        if (holder == 0) {
            PosixSerialLink link;
            const char opened = link.open(pty.path, LineSettings(), nullptr) ? '1' : '0';
            (void)!write(ready[1], &opened, 1);
            pause();
            _exit(0);
        }
        char opened = 0;
        QCOMPARE(read(ready[0], &opened, 1), ssize_t(1));
        QCOMPARE(opened, '1');
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);

        // Another user's instance opens the port.
        const pid_t other = fork();
        if (other == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(3);
            PosixSerialLink link;
            _exit(link.open(pty.path, LineSettings(), nullptr) ? 0 : 1);
        }
        int status = 0;
        waitpid(other, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    // The other end gone (an adapter unplugged): the write fails with the system's reason.
    void writeToAVanishedDeviceFails()
    {
        Pty pty;
        PosixSerialLink link;
        QString error;
        QVERIFY(link.open(pty.path, LineSettings(), &error));
        pty.closeMaster();
        QVERIFY(!link.write(kFrame, &error));
        QVERIFY2(error.startsWith(QLatin1String("Could not write to ") + pty.path),
                 qPrintable(error));
    }

    // An unplug is noticed at once, not at the next scheduled write (up to an hour of
    // "Last Sync at" on a display that gets nothing), and a replug at once, not at the
    // 10-second retry: also when the folders of a /dev/serial/by-id name went with the
    // last adapter and come back one by one, and when the node's first open is refused
    // and nothing in its folder changes after.
    void unplugAndReplugAreNoticedAtOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("foldersVanish");
        QTest::addColumn<bool>("firstOpenRefused");
        QTest::newRow("a name in a folder that stays") << "display" << false << false;
        QTest::newRow("a by-id name whose folders vanish")
            << "serial/by-id/usb-display-if00-port0" << true << false;
        QTest::newRow("first open refused, no event after") << "display" << false << true;
    }

    void unplugAndReplugAreNoticedAtOnce()
    {
        QFETCH(QString, name);
        QFETCH(bool, foldersVanish);
        QFETCH(bool, firstOpenRefused);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        auto first = std::make_unique<Pty>();
        QVERIFY(QFile::link(first->path, path));
        PosixSerialLink link;
        FakeClock clock; // stands still: the 10-second retry never comes due
        RecordingView view;
        Synchroniser sync(link, clock, view, FrameWriter::Threading::Caller);
        DeviceFolderWatch watch;
        sync.setDeviceWatch(&watch);
        QCOMPARE(sync.start(settingsFor(path)), Synchroniser::StartUpResult::Started);
        reachSlot(sync.writer(), clock);
        QCOMPARE(first->read(6).size(), 6);

        first.reset(); // unplugged
        QTRY_COMPARE_WITH_TIMEOUT(view.status, RecordingView::Status::PortNotOpen, 1000);
        QVERIFY2(view.reason().contains(QLatin1String("hung up")), qPrintable(view.reason()));
        QVERIFY(!link.isOpen());
        QFile::remove(path);
        if (foldersVanish) {
            QVERIFY(QDir(dir.filePath(QStringLiteral("serial"))).removeRecursively());
            // The watch hears of each change before the next: the kernel queued it.
            QCoreApplication::processEvents();
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("serial")));
            QCoreApplication::processEvents();
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        }

        Pty second; // plugged in again, behind the same name
        // A locked pseudo-terminal refuses its opens (EIO), as a node does whose driver
        // is still binding; unlocked, it opens, and its folder hears nothing of it.
        int locked = firstOpenRefused ? 1 : 0;
        QCOMPARE(::ioctl(second.master, TIOCSPTLCK, &locked), 0);
        QVERIFY(QFile::link(second.path, path));
        if (firstOpenRefused) {
            QTRY_VERIFY_WITH_TIMEOUT(view.reason().contains(QLatin1String("Input/output")),
                                     1500);
            locked = 0;
            QCOMPARE(::ioctl(second.master, TIOCSPTLCK, &locked), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(link.isOpen(), 1500);
        const QDateTime carried = sync.writer().pendingSecond();
        reachSlot(sync.writer(), clock);
        QCOMPARE(second.read(6), TimeFrame(carried.time()));
        QCOMPARE(view.status, RecordingView::Status::Synced);
    }

    // Displays that wait in one folder share its watch: one that stops waiting leaves the
    // other told when its device appears.
    void displaysShareTheirFoldersWatch()
    {
        QTemporaryDir dir;
        DeviceFolderWatch stopped;
        DeviceFolderWatch waiting;
        int appeared = 0;
        waiting.setAppearedHandler([&] { ++appeared; });
        stopped.watch(dir.filePath(QStringLiteral("ttyUSB0")));
        waiting.watch(dir.filePath(QStringLiteral("ttyUSB1")));
        stopped.watch(QString());
        QFile device(dir.filePath(QStringLiteral("ttyUSB1")));
        QVERIFY(device.open(QIODevice::WriteOnly));
        QTRY_COMPARE(appeared, 1);
    }
};

QTEST_GUILESS_MAIN(tst_SerialLink)
#include "tst_seriallink.moc"
