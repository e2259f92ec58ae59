// The notification icon on a real X server with a real tray host (trayer): start-up
// hides the window behind the icon, a click on the icon shows it, and Exit from the
// icon's menu ends the program with status 0 and leaves no icon behind.

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "e2e/x11.h"

class tst_Tray : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_program;
    QProcess m_trayer;
    QProcess m_emulator;
    QString m_panel;
    QPoint m_panelCentre;

    /// Notification icons of the program that the tray host holds.
    int iconsInTray() const
    {
        QByteArray tree;
        runTool(QStringLiteral("xwininfo"),
                {QStringLiteral("-tree"), QStringLiteral("-id"), m_panel}, &tree);
        return int(tree.count("\"Orvantide\":"));
    }

    bool mainWindowShown() const
    {
        return !xwindows({QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                          QStringLiteral("^KV7R/9R Orvantide$")})
                    .isEmpty();
    }

    void clickTray(int button) const
    {
        xdotool({QStringLiteral("mousemove"), QString::number(m_panelCentre.x()),
                 QString::number(m_panelCentre.y()), QStringLiteral("click"),
                 QString::number(button)});
    }

    /// Starts the program and waits until its first frame has reached the display.
    void startProgram(QProcess &program)
    {
        m_emulator.readAllStandardOutput();
        program.setProcessEnvironment(programEnvironment());
        program.start(m_program, {});
        QVERIFY(program.waitForStarted());
        QVERIFY2(m_emulator.waitForReadyRead(20000), "no frame reached the display");
        QVERIFY(m_emulator.readAllStandardOutput().contains("\"event\":\"frame\""));
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server");
        m_program = m_dir.filePath(QStringLiteral("orvantide"));
        QVERIFY(QFile::copy(qEnvironmentVariable("ORVANTIDE_BIN"), m_program));

        m_trayer.start(QStringLiteral("trayer"),
                       {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                        QStringLiteral("right"), QStringLiteral("--widthtype"),
                        QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24"),
                        QStringLiteral("--transparent"), QStringLiteral("false")});
        QVERIFY(m_trayer.waitForStarted());
        QByteArray panel;
        QCOMPARE(xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                          QStringLiteral("--classname"), QStringLiteral("^panel$")},
                         &panel),
                 0);
        m_panel = QString::fromLatin1(panel).split(QLatin1Char('\n')).first();

        const QString link = m_dir.filePath(QStringLiteral("display"));
        m_emulator.start(qEnvironmentVariable("DISPLAY_EMULATOR_BIN"),
                         {QStringLiteral("--pty"), link, QStringLiteral("--json")});
        QVERIFY(m_emulator.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 10000);
        QFile ini(m_dir.filePath(QStringLiteral("orvtide.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Settings]\r\nCommPort=" + link.toUtf8() +
                  "\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n");
    }

    void cleanupTestCase()
    {
        stopProcess(m_emulator);
        stopProcess(m_trayer);
    }

    void startUpHidesAndAClickRestores()
    {
        QProcess program;
        startProgram(program);
        QTRY_COMPARE_WITH_TIMEOUT(iconsInTray(), 1, 10000);
        QVERIFY(!mainWindowShown());

        // The tray host shrinks to its one icon, so its centre is the icon.
        QByteArray geometry;
        xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), m_panel},
                &geometry);
        QMap<QString, int> g;
        for (const QString &line :
             QString::fromLatin1(geometry).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            g.insert(line.section(QLatin1Char('='), 0, 0),
                     line.section(QLatin1Char('='), 1).toInt());
        m_panelCentre =
            QPoint(g.value("X") + g.value("WIDTH") / 2, g.value("Y") + g.value("HEIGHT") / 2);

        clickTray(1);
        QTRY_VERIFY_WITH_TIMEOUT(mainWindowShown(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(iconsInTray(), 0, 10000);
        stopProcess(program);
    }

    void exitFromTheIconMenu()
    {
        if (m_panelCentre.isNull())
            QSKIP("the icon was not found");
        QProcess program;
        startProgram(program);
        QTRY_COMPARE_WITH_TIMEOUT(iconsInTray(), 1, 10000);

        const int windowsBefore =
            xwindows({QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                      QStringLiteral("orvantide")})
                .size();
        clickTray(3);
        // The popup menu opens as a window of its own; then Exit, its second item.
        QTRY_VERIFY_WITH_TIMEOUT(
            xwindows({QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                      QStringLiteral("orvantide")})
                    .size() > windowsBefore,
            10000);
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Return")});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(iconsInTray(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Tray)
#include "tst_tray.moc"
