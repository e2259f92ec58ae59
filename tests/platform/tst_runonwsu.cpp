#include "files.h"
#include "platform/AutostartStore.h"
#include "platform/RunOnWSU.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_RunOnWSU : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    XdgAutostartStore m_store{QStringLiteral("Orvantide")};

    QString userEntry() const
    {
        return m_root->filePath("home-config/autostart/Orvantide.desktop");
    }
    QString program() const { return m_root->filePath("app/orvantide"); }
    QString systemEntry() const { return m_root->filePath("etc-xdg/autostart/Orvantide.desktop"); }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root->filePath("home-config")));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_root->filePath("etc-xdg")));
    }

    void enableCheckDisable()
    {
        RunOnWSU run(m_store, program());
        QVERIFY(!run.CheckRunAtStartup());
        QString error;
        QVERIFY2(run.EnableRunAtStartup(&error), qPrintable(error));
        const QByteArray entry = readFile(userEntry());
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nType=Application\n"));
        QVERIFY(entry.contains("\nName=Orvantide\n"));
        // Sessions that can are asked to wait for the panel that holds the icon.
        QVERIFY(entry.contains("\nX-KDE-autostart-after=panel\n"));
        QVERIFY(entry.contains("\nX-LXQt-Need-Tray=true\n"));
        QVERIFY2(entry.contains("\nExec=" + QFile::encodeName(m_root->filePath("app")) +
                                "/orvantide -systray\n"),
                 entry.constData());
        QVERIFY(run.CheckRunAtStartup());
        QVERIFY2(run.DisableRunAtStartup(&error), qPrintable(error));
        QVERIFY(!QFile::exists(userEntry()));
        QVERIFY(!run.CheckRunAtStartup());
        // Nothing to remove is no failure.
        QVERIFY(run.DisableRunAtStartup(&error));
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("execLine"); ///< as it stands in the file, after "Exec="
        QTest::newRow("plain") << "/opt/clock"
                               << "/opt/clock/orvantide -systray";
        // Unquoted, "/opt/my" would run with "clock/orvantide" as its argument.
        QTest::newRow("blank") << "/opt/my clock"
                               << "\"/opt/my clock/orvantide\" -systray";
        QTest::newRow("percent") << "/opt/100%"
                                 << "/opt/100%%/orvantide -systray";
        QTest::newRow("dollar and quote") << "/opt/a$b\"c"
                                          << "\"/opt/a\\\\$b\\\\\"c/orvantide\" -systray";
        QTest::newRow("backslash") << "/opt/a\\b"
                                   << "\"/opt/a\\\\\\\\b/orvantide\" -systray";
    }

    void execQuoting()
    {
        QFETCH(QString, folder);
        QFETCH(QString, execLine);
        RunOnWSU run(m_store, folder + "/orvantide");
        QVERIFY(run.EnableRunAtStartup());
        const QByteArray entry = readFile(userEntry());
        QVERIFY2(entry.contains("\nExec=" + execLine.toUtf8() + "\n"), entry.constData());
        QVERIFY(run.CheckRunAtStartup());
    }

    void whatCounts_data()
    {
        QTest::addColumn<QByteArray>("user");   ///< user entry, null for none
        QTest::addColumn<QByteArray>("system"); ///< system-wide entry, null for none
        QTest::addColumn<bool>("registered");

        const QByteArray ours =
            "[Desktop Entry]\nType=Application\nName=Orvantide\nExec=@/orvantide -systray\n";
        QTest::newRow("none") << QByteArray() << QByteArray() << false;
        QTest::newRow("user entry") << ours << QByteArray() << true;
        QTest::newRow("system entry") << QByteArray() << ours << true;
        QTest::newRow("another folder")
            << QByteArray("[Desktop Entry]\nExec=/elsewhere/orvantide -systray\n") << QByteArray()
            << false;
        QTest::newRow("other letter case")
            << QByteArray(ours).replace("orvantide -systray", "Orvantide -systray") << QByteArray()
            << false;
        QTest::newRow("without -systray")
            << QByteArray(ours).replace(" -systray", "") << QByteArray() << false;
        QTest::newRow("hidden") << QByteArray(ours + "Hidden=true\n") << QByteArray() << false;
        QTest::newRow("user hides system")
            << QByteArray("[Desktop Entry]\nHidden=true\n") << ours << false;
        QTest::newRow("user overrides system")
            << QByteArray("[Desktop Entry]\nExec=/elsewhere/orvantide -systray\n") << ours << false;
        QTest::newRow("Exec of another group")
            << QByteArray("[Desktop Action x]\nExec=@/orvantide -systray\n") << QByteArray()
            << false;
    }

    void whatCounts()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, system);
        QFETCH(bool, registered);
        const QByteArray app = QFile::encodeName(m_root->filePath("app"));
        if (!user.isNull())
            QVERIFY(writeFile(userEntry(), QByteArray(user).replace("@", app)));
        if (!system.isNull())
            QVERIFY(writeFile(systemEntry(), QByteArray(system).replace("@", app)));
        QCOMPARE(RunOnWSU(m_store, program()).CheckRunAtStartup(), registered);
    }

    // A system-wide entry cannot be deleted by the user; disabling hides it instead.
    void disableHidesASystemEntry()
    {
        RunOnWSU run(m_store, program());
        QVERIFY(writeFile(systemEntry(),
                          "[Desktop Entry]\nExec=" + QFile::encodeName(m_root->filePath("app")) +
                              "/orvantide -systray\n"));
        QVERIFY(run.CheckRunAtStartup());
        QString error;
        QVERIFY2(run.DisableRunAtStartup(&error), qPrintable(error));
        QVERIFY(!run.CheckRunAtStartup());
        QVERIFY(readFile(userEntry()).contains("\nHidden=true\n"));
        QVERIFY(QFile::exists(systemEntry()));
        QVERIFY(run.EnableRunAtStartup(&error));
        QVERIFY(run.CheckRunAtStartup());
    }

    void unwritableAutostartFolder()
    {
        QVERIFY(writeFile(m_root->filePath("home-config/autostart"),
                          "a file where the folder should be"));
        RunOnWSU run(m_store, program());
        QString error;
        QVERIFY(!run.EnableRunAtStartup(&error));
        QVERIFY2(error.contains(m_root->filePath("home-config/autostart")), qPrintable(error));
        QVERIFY(!run.CheckRunAtStartup());
    }

    void defaultFolders()
    {
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CONFIG_DIRS");
        QCOMPARE(m_store.userEntryPath(),
                 QDir::homePath() + "/.config/autostart/Orvantide.desktop");
        QCOMPARE(m_store.searchPaths().value(1),
                 QStringLiteral("/etc/xdg/autostart/Orvantide.desktop"));
        // Relative paths are to be ignored.
        qputenv("XDG_CONFIG_HOME", "relative");
        qputenv("XDG_CONFIG_DIRS", "also/relative:/etc/one:/etc/two");
        QCOMPARE(m_store.userEntryPath(),
                 QDir::homePath() + "/.config/autostart/Orvantide.desktop");
        QCOMPARE(m_store.searchPaths().mid(1),
                 (QStringList{"/etc/one/autostart/Orvantide.desktop",
                              "/etc/two/autostart/Orvantide.desktop"}));
    }
};

QTEST_GUILESS_MAIN(tst_RunOnWSU)
#include "tst_runonwsu.moc"
