// Run at login on Windows: the value "Orvantide" under the machine-wide Run key, written,
// read back and removed through the registry.

#include "platform/AutostartStore.h"
#include "platform/RunOnWSU.h"

#include <QSettings>
#include <QtTest>

class tst_RegistryRun : public QObject
{
    Q_OBJECT

    static QString runValue()
    {
        const QSettings run(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"),
            QSettings::NativeFormat);
        return run.value(QStringLiteral("Orvantide")).toString();
    }

private slots:
    void enableCheckDisable_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "C:\\Clock\\orvantide.exe"
                               << "C:\\Clock\\orvantide.exe -systray";
        // Unquoted, "C:\Program" would run with the rest as its arguments.
        QTest::newRow("blank") << "C:\\Program Files\\Orvantide\\orvantide.exe"
                               << "\"C:\\Program Files\\Orvantide\\orvantide.exe\" -systray";
    }

    void enableCheckDisable()
    {
        QFETCH(QString, program);
        QFETCH(QString, value);
        const std::unique_ptr<AutostartStore> store = createAutostartStore("Orvantide");
        RunOnWSU run(*store, program);
        QString error;
        QVERIFY2(run.EnableRunAtStartup(&error), qPrintable(error));
        QCOMPARE(runValue(), value);
        QVERIFY(run.CheckRunAtStartup());
        QVERIFY(!RunOnWSU(*store, "C:\\Elsewhere\\orvantide.exe").CheckRunAtStartup());
        QVERIFY2(run.DisableRunAtStartup(&error), qPrintable(error));
        QCOMPARE(runValue(), QString());
        QVERIFY(!run.CheckRunAtStartup());
    }

    // A value stored without the quotes counts as this program's: the box shows it, and
    // unticking removes it.
    void unquotedValueCounts()
    {
        const QString program = QStringLiteral("C:\\Program Files\\Orvantide\\orvantide.exe");
        QSettings run(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"),
            QSettings::NativeFormat);
        run.setValue(QStringLiteral("Orvantide"), program + QStringLiteral(" -systray"));
        run.sync();
        const std::unique_ptr<AutostartStore> store = createAutostartStore("Orvantide");
        QVERIFY(RunOnWSU(*store, program).CheckRunAtStartup());
        QVERIFY(!RunOnWSU(*store, "C:\\Program Files\\Other\\orvantide.exe").CheckRunAtStartup());
        QVERIFY(RunOnWSU(*store, program).DisableRunAtStartup());
        QCOMPARE(runValue(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_RegistryRun)
#include "tst_registryrun.moc"
