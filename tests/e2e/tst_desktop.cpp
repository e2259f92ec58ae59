// The built program on the desktops users have (see desktop.h): start-up hides the
// window behind the notification icon, the first click on the icon brings it back, the
// window manager's minimise hides it again, the icon's menu ends the program with status
// 0, a second start brings the window forward, a notification area that starts after
// the program is found, and the display's loss and return reach the notification server. Each case starts the program afresh, as a log-in does.

#include "e2e/desktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class tst_Desktop : public QObject
{
    Q_OBJECT

    Desktop m_desktop;
    QTemporaryDir m_dir;
    QString m_program;
    QProcess m_emulator;
    QByteArray m_frames; ///< what the emulator reported since the program started

    bool frameArrived()
    {
        m_frames += m_emulator.readAllStandardOutput();
        return m_frames.contains("\"event\":\"frame\"");
    }

    /// The display emulator on a pseudo-terminal linked at `link`.
    void startDisplay(const QString &link)
    {
        m_emulator.start(qEnvironmentVariable("DISPLAY_EMULATOR_BIN"),
                         {QStringLiteral("--pty"), link, QStringLiteral("--json")});
        QVERIFY(m_emulator.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), kSettleMs);
    }

    /// Starts the program and waits until its first frame has reached the display.
    void startProgram(QProcess &program)
    {
        m_emulator.readAllStandardOutput();
        m_frames.clear();
        program.setProcessEnvironment(m_desktop.programEnvironment());
        program.start(m_program, {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY2_WITH_TIMEOUT(frameArrived(), program.readAllStandardError().constData(),
                                  2 * kSettleMs);
    }

    /// Starts the program and waits until it has given way to its icon.
    void startHidden(QProcess &program)
    {
        CHECKED(startProgram(program));
        QTRY_VERIFY2_WITH_TIMEOUT(m_desktop.windowHidden() && m_desktop.icons() == 1,
                                  m_desktop.describe().constData(), 2 * kSettleMs);
    }

    /// The icon is activated and the window comes back, and stays, as the user sees it.
    void activateRestores()
    {
        m_desktop.activateIcon();
        QTRY_VERIFY2_WITH_TIMEOUT(m_desktop.windowShown(), m_desktop.describe().constData(),
                                  kSettleMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop.icons(), 0, kSettleMs);
        QVERIFY2(m_desktop.windowShown(), m_desktop.describe().constData());
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_desktop.start(&error), qPrintable(error));
        // The program reads the settings file beside its executable: it runs from a copy.
        m_program = m_dir.filePath(QStringLiteral("orvantide"));
        QVERIFY(QFile::copy(qEnvironmentVariable("ORVANTIDE_BIN"), m_program));
        const QString link = m_dir.filePath(QStringLiteral("display"));
        CHECKED(startDisplay(link));
        QFile ini(m_dir.filePath(QStringLiteral("orvtide.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Settings]\r\nCommPort=" + link.toUtf8() +
                  "\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n");
    }

    void cleanupTestCase() { stopProcess(m_emulator); }

    void firstClickRestores_data()
    {
        QTest::addColumn<int>("run");
        for (int run = 1; run <= 5; ++run)
            QTest::addRow("start-up %d", run) << run;
    }

    // The window manager may mark a window it was asked to iconify hidden late, and keep
    // it iconic when it is shown again: the first click must show it all the same.
    void firstClickRestores()
    {
        QProcess program;
        CHECKED(startHidden(program));
        CHECKED(activateRestores());
        stopProcess(program);
    }

    void minimiseHidesAgainAndExitEnds()
    {
        QProcess program;
        CHECKED(startHidden(program));
        if (m_desktop.kind != Desktop::Kind::Wayland) {
            CHECKED(activateRestores());
            m_desktop.minimiseWindow();
            QTRY_VERIFY2_WITH_TIMEOUT(m_desktop.windowHidden() && m_desktop.icons() == 1,
                                      m_desktop.describe().constData(), kSettleMs);
            CHECKED(activateRestores());
            m_desktop.minimiseWindow();
            QTRY_VERIFY2_WITH_TIMEOUT(m_desktop.windowHidden() && m_desktop.icons() == 1,
                                      m_desktop.describe().constData(), kSettleMs);
        }
        if (m_desktop.kind != Desktop::Kind::XEmbed) {
            const QStringList labels = m_desktop.menuItems().keys();
            QVERIFY2(labels.contains("Restore") && labels.contains("Exit"),
                     qPrintable(labels.join(", ")));
        }
        CHECKED(m_desktop.chooseFromMenu(QStringLiteral("Exit")));
        program.waitForFinished(kSettleMs);
        QCOMPARE(program.state(), QProcess::NotRunning);
        QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                 program.readAllStandardError().right(3000).constData());
        QCOMPARE(m_desktop.icons(), 0);
    }

    // A second start for the same settings file (a double click on the launcher while the
    // program sits in the notification area) sends nothing, brings the window forward and
    // ends with status 0.
    void secondStartBringsTheWindowForward()
    {
        QProcess program;
        CHECKED(startHidden(program));
        QProcess second;
        second.setProcessEnvironment(m_desktop.programEnvironment());
        second.start(m_program, {});
        QVERIFY(second.waitForFinished(20000));
        QVERIFY2(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0,
                 second.readAllStandardError().constData());
        QTRY_VERIFY2_WITH_TIMEOUT(m_desktop.windowShown(), m_desktop.describe().constData(),
                                  kSettleMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop.icons(), 0, kSettleMs);
        m_frames += m_emulator.readAllStandardOutput();
        QCOMPARE(m_frames.count("\"event\":\"frame\""), 1);
        stopProcess(program);
    }

    /// The summaries of the notifications the server received, shown or closed.
    static QStringList notificationsReceived()
    {
        QProcess dunstctl;
        dunstctl.start(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        dunstctl.waitForFinished();
        dunstctl.start(QStringLiteral("dunstctl"), {QStringLiteral("history")});
        dunstctl.waitForFinished();
        QStringList summaries;
        const QJsonArray data =
            QJsonDocument::fromJson(dunstctl.readAllStandardOutput()).object()["data"].toArray();
        for (const QJsonValue &list : data)
            for (const QJsonValue &notification : list.toArray())
                summaries << notification["summary"]["data"].toString();
        return summaries;
    }

    // A real notification server on the session bus: the display unplugged while the
    // window is hidden is told once, and its return once.
    void displayLossAndReturnAreNotified()
    {
        if (m_desktop.kind == Desktop::Kind::XEmbed)
            QSKIP("without a StatusNotifierItem host Qt shows its own balloon, not a "
                  "notification over D-Bus");
        QProcess server;
        server.setProcessEnvironment(m_desktop.programEnvironment());
        server.start(QStringLiteral("dunst"), {});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY2_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                      QStringLiteral("org.freedesktop.Notifications")),
                                  server.readAllStandardError().constData(), kSettleMs);
        QProcess program;
        CHECKED(startHidden(program));

        const QString link = m_dir.filePath(QStringLiteral("display"));
        stopProcess(m_emulator); // the adapter is pulled out
        const QString lost = QStringLiteral("The display is not reached");
        QTRY_VERIFY2_WITH_TIMEOUT(notificationsReceived().contains(lost),
                                  program.readAllStandardError().constData(), kSettleMs);
        CHECKED(startDisplay(link)); // plugged in again
        const QString back = QStringLiteral("The display is reached again");
        QTRY_VERIFY2_WITH_TIMEOUT(notificationsReceived().contains(back),
                                  program.readAllStandardError().constData(), 2 * kSettleMs);
        const QStringList received = notificationsReceived();
        QCOMPARE(received.count(lost), 1);
        QCOMPARE(received.count(back), 1);
        stopProcess(program);
        stopProcess(server);
    }

    // At log-in the program may start before the panel.
    void notificationAreaStartingLater()
    {
        m_desktop.stopTray();
        QProcess program;
        CHECKED(startProgram(program));
        if (m_desktop.kind != Desktop::Kind::Wayland)
            QTRY_VERIFY_WITH_TIMEOUT(m_desktop.windowIconic(), kSettleMs);
        QString error;
        QVERIFY2(m_desktop.startTray(&error), qPrintable(error));
        QTRY_VERIFY2_WITH_TIMEOUT(m_desktop.windowHidden() && m_desktop.icons() == 1,
                                  m_desktop.describe().constData(), 30000);
        CHECKED(activateRestores());
        stopProcess(program);
    }
};

QTEST_GUILESS_MAIN(tst_Desktop)
#include "tst_desktop.moc"
