// The built program, as a user runs it, against the display emulator on a
// pseudo-terminal, under a real X server (scripts/test starts Xvfb): without one the
// test fails rather than pass untried.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "e2e/x11.h"
#include "platform/ser2net.h"

class tst_EndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_program;

    void writeSettings(const QByteArray &commPort)
    {
        QFile file(m_dir.filePath(QStringLiteral("orvtide.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Settings]\r\nCommPort=" + commPort +
                   "\r\nSetting=9600,N,8,1\r\nSyncInt=2\r\n\r\n[Sync]\r\nInterval=60\r\n");
    }

    /// Starts the display emulator on a pty linked at `link`, with `arguments` besides,
    /// and names `link` as the port in the settings file.
    void startDisplay(QProcess &emulator, const QString &link, const QStringList &arguments)
    {
        emulator.start(qEnvironmentVariable("DISPLAY_EMULATOR_BIN"),
                       QStringList{QStringLiteral("--pty"), link, QStringLiteral("--json")} +
                           arguments);
        QVERIFY(emulator.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 10000);
        writeSettings(link.toUtf8());
    }

    /// Starts `executable` in `env` and waits until its first frame has reached `emulator`.
    static void startUntilFirstFrame(QProcess &program, const QString &executable,
                                     const QProcessEnvironment &env, QProcess &emulator)
    {
        program.setProcessEnvironment(env);
        program.start(executable, {});
        QVERIFY(program.waitForStarted());
        QByteArray frames;
        QTRY_VERIFY_WITH_TIMEOUT((frames += emulator.readAllStandardOutput()).contains("frame"),
                                 20000);
    }

    /// Starts `executable`, which stops at start-up with a message box, answers the box
    /// and waits for the program's end.
    static void runAnsweringTheBox(QProcess &program, const QString &executable)
    {
        program.setProcessEnvironment(programEnvironment());
        program.start(executable, {});
        QVERIFY(program.waitForStarted());
        answerMessageBox(program);
        QCOMPARE(program.state(), QProcess::NotRunning);
    }

    /// Answers the program's message box as a user would: focus it and press Return. The
    /// key may come before the box takes keys, so it is pressed again while the program waits.
    static void answerMessageBox(QProcess &program)
    {
        for (int attempt = 0; attempt < 20 && program.state() == QProcess::Running; ++attempt) {
            xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                     QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                     QStringLiteral("^Orvantide$"), QStringLiteral("windowfocus"),
                     QStringLiteral("--sync"), QStringLiteral("key"), QStringLiteral("Return")});
            program.waitForFinished(1000);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"),
                 "no X server: DISPLAY is not set (scripts/test runs the tests under xvfb-run)");
        // The program reads the settings file beside its own executable, so it runs from a
        // copy in a folder of the test's own.
        const QString built = qEnvironmentVariable("ORVANTIDE_BIN");
        QVERIFY2(QFileInfo(built).isExecutable(), "ORVANTIDE_BIN names no program");
        m_program = m_dir.filePath(QStringLiteral("orvantide"));
        QVERIFY(QFile::copy(built, m_program));
    }

    // The emulator reads as the demo runs it (sleeping between reads) and as the sync
    // offset benchmark runs it (never sleeping). Qt's own options go to Qt.
    void firstFrameCarriesTheClock_data()
    {
        QTest::addColumn<QStringList>("readerArguments");
        QTest::addColumn<QStringList>("programArguments");
        QTest::addColumn<bool>("throughServer"); ///< the display behind ser2net, RFC 2217
        QTest::newRow("sleeping reader") << QStringList() << QStringList() << false;
        QTest::newRow("busy reader") << QStringList{QStringLiteral("--busy-read")}
                                     << QStringList() << false;
        QTest::newRow("Qt's options") << QStringList()
                                      << QStringList{"-style", "Fusion", "--reverse",
                                                     "-platform", "xcb", "-qwindowtitle=Hall"}
                                      << false;
        QTest::newRow("a device server's port") << QStringList() << QStringList() << true;
    }

    void firstFrameCarriesTheClock()
    {
        QFETCH(QStringList, readerArguments);
        QFETCH(QStringList, programArguments);
        QFETCH(bool, throughServer);
        const QString link = m_dir.filePath(QStringLiteral("display"));
        QProcess emulator;
        CHECKED(startDisplay(emulator, link,
                             QStringList{QStringLiteral("--count"), QStringLiteral("1"),
                                         QStringLiteral("--timeout"), QStringLiteral("30")} +
                                 readerArguments));
        Ser2net server;
        if (throughServer) {
            QVERIFY(server.start(QFileInfo(link).symLinkTarget(), true));
            writeSettings("rfc2217://127.0.0.1:" + QByteArray::number(server.port));
        }

        QProcess program;
        program.setProcessEnvironment(programEnvironment());
        program.start(m_program, programArguments);
        QVERIFY(program.waitForStarted());

        QVERIFY2(emulator.waitForFinished(30000), program.readAllStandardError().constData());
        const QByteArray out = emulator.readAllStandardOutput();
        QCOMPARE(emulator.exitCode(), 0);
        const QJsonObject frame = QJsonDocument::fromJson(out.trimmed()).object();
        QCOMPARE(frame.value(QStringLiteral("event")).toString(), QStringLiteral("frame"));

        const QTime carried = QTime::fromString(frame.value(QStringLiteral("time")).toString(),
                                                QStringLiteral("HH:mm:ss"));
        QVERIFY(carried.isValid());
        const QByteArray expected = QByteArray::fromHex("fe10") + char(carried.second()) +
                                    char(carried.minute()) + char(carried.hour()) + char(0xFF);
        QCOMPARE(frame.value(QStringLiteral("bytes")).toString(),
                 QString::fromLatin1(expected.toHex(' ').toUpper()));
        // The frame carries the second at whose start it arrives.
        const double offset = frame.value(QStringLiteral("offset_ms")).toDouble(99999);
        QVERIFY2(std::abs(offset) < 500, out.constData());

        QCOMPARE(program.state(), QProcess::Running);
        stopProcess(program);
    }

    // The PC clock is stepped an hour forward while the program runs (libfaketime with a
    // timestamp file; the monotonic clock is left alone): the display follows at once.
    void clockStepIsFollowed()
    {
        const QString fakeTime =
            QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1");
        QVERIFY2(QFileInfo::exists(fakeTime), "libfaketime is not installed");
        const QString link = m_dir.filePath(QStringLiteral("display2"));
        QProcess emulator;
        CHECKED(startDisplay(emulator, link, {}));

        const QString offsetFile = m_dir.filePath(QStringLiteral("faketime"));
        auto setOffset = [&](const QByteArray &offset) {
            QFile file(offsetFile);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(offset + "\n");
        };
        setOffset("+0");
        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("LD_PRELOAD"), fakeTime);
        env.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), offsetFile);
        env.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
        env.insert(QStringLiteral("DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        // The sanitizers' runtime wants to come first; libfaketime has to, here.
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                       QStringLiteral(":verify_asan_link_order=0"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(m_program, {});
        QVERIFY(program.waitForStarted());

        auto nextFrame = [&](int timeoutMs) {
            QElapsedTimer waited;
            waited.start();
            while (!emulator.canReadLine() && waited.elapsed() < timeoutMs)
                emulator.waitForReadyRead(timeoutMs - int(waited.elapsed()));
            return QJsonDocument::fromJson(emulator.readLine()).object();
        };
        const QJsonObject first = nextFrame(20000);
        QVERIFY2(std::abs(first.value(QStringLiteral("offset_ms")).toDouble(99999)) < 500,
                 program.readAllStandardError().constData());

        setOffset("+3600");
        const QJsonObject stepped = nextFrame(2000);
        QVERIFY2(!stepped.isEmpty(), "no frame within two seconds of the step");
        const double offset = stepped.value(QStringLiteral("offset_ms")).toDouble(99999);
        QVERIFY2(std::abs(offset - 3600000) < 500, QJsonDocument(stepped).toJson().constData());
        stopProcess(program);
        stopProcess(emulator);
    }

    void absentPortKeepsTheWindowOnScreen()
    {
        writeSettings(m_dir.filePath(QStringLiteral("no-such-tty")).toUtf8());
        QProcess program;
        program.setProcessEnvironment(programEnvironment());
        program.start(m_program, {});
        QVERIFY(program.waitForStarted());
        QCOMPARE(xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                          QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                          QStringLiteral("^KV7R/9R Orvantide$")}),
                 0);
        QCOMPARE(program.state(), QProcess::Running);
        stopProcess(program);
    }

    void badSettingsEndWithStatus2_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << QByteArray() << "was not found";
        QTest::newRow("interval not a number")
            << QByteArray("[Settings]\nCommPort=1\nSetting=9600,N,8,1\n[Sync]\nInterval=often\n")
            << "section [Sync], key Interval: \"often\"";
    }

    // A settings file that can't be used stops start-up with a message box naming the
    // file, section, key and value; standard error repeats it, the exit status is 2 and
    // nothing is written.
    void badSettingsEndWithStatus2()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(QStringLiteral("orvtide.ini"));
        QFile::remove(path);
        if (!file.isNull()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file);
        }
        QProcess program;
        CHECKED(runAnsweringTheBox(program, m_program));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 2);
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(err.contains(QLatin1Char('"') + path + QLatin1Char('"')), qPrintable(err));
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(QFile::exists(path), !file.isNull());
    }

    void signalsEndWithStatus0_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM: log-out, service stop") << int(SIGTERM);
        QTest::newRow("SIGINT: Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGHUP: terminal closed") << int(SIGHUP);
    }

    // A log-out or a service stop ends the program as Exit does: the port is closed and
    // the exit status tells a service manager that all went well.
    void signalsEndWithStatus0()
    {
        QFETCH(int, signal);
        const QString link = m_dir.filePath(QStringLiteral("display-signal"));
        QProcess emulator;
        CHECKED(startDisplay(emulator, link, {}));
        QProcess program;
        CHECKED(startUntilFirstFrame(program, m_program, programEnvironment(), emulator));
        ::kill(pid_t(program.processId()), signal);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        stopProcess(emulator);
    }

    // The end of the X session: the server goes away under the program, which ends
    // normally, with status 0, although Qt calls the broken connection an error.
    void endOfTheSessionEndsWithStatus0()
    {
        int number = 150 + int(QCoreApplication::applicationPid() % 100);
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        QProcess server;
        server.start(QStringLiteral("Xvfb"),
                     {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("800x600x24")});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)),
                                 10000);
        const QString link = m_dir.filePath(QStringLiteral("display-session"));
        QProcess emulator;
        CHECKED(startDisplay(emulator, link, {}));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(number));
        QProcess program;
        CHECKED(startUntilFirstFrame(program, m_program, env, emulator));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        stopProcess(emulator);
    }

    // A folder whose name is not valid UTF-8 cannot be named: the program stops at
    // start-up rather than read and write /orvtide.ini at the root of the file system.
    void unnameableFolderStopsStartUp()
    {
        // Qt cannot name such a folder either: it is made and filled through the shell and
        // the program started through a link whose name is plain.
        const QString link = m_dir.filePath(QStringLiteral("plain-name"));
        QCOMPARE(runTool(QStringLiteral("sh"),
                         {QStringLiteral("-c"),
                          QStringLiteral("mkdir \"$1/$(printf '\\377\\376')\" && "
                                         "cp \"$2\" \"$1/$(printf '\\377\\376')/orvantide\" && "
                                         "ln -s \"$1/$(printf '\\377\\376')/orvantide\" \"$3\""),
                          QStringLiteral("sh"), m_dir.path(), m_program, link}),
                 0);
        const bool rootFileBefore = QFile::exists(QStringLiteral("/orvtide.ini"));
        QProcess program;
        CHECKED(runAnsweringTheBox(program, link));
        QCOMPARE(program.exitCode(), 2);
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(err.contains(QLatin1String("cannot name the folder")), qPrintable(err));
        QCOMPARE(QFile::exists(QStringLiteral("/orvtide.ini")), rootFileBefore);
    }
};

QTEST_GUILESS_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
