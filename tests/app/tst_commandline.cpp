// What each program takes on its command line and says of itself.

#include "app/CommandLine.h"

#include <QtTest>

using Program = CommandLine::Program;
using Action = CommandLine::Action;
Q_DECLARE_METATYPE(Program)
Q_DECLARE_METATYPE(Action)

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void programs_data()
    {
        QTest::addColumn<Program>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("textStart");
        QTest::addColumn<bool>("headless");
        const Program windowed = Program::Windowed;
        const Program service = Program::Service;
        QTest::newRow("windowed help names Qt's options")
            << windowed << QStringList{"--help"} << Action::ShowHelp
            << "Usage: orvantide [--headless]" << false;
        QTest::newRow("service help names the service") << service << QStringList{"--help"}
                                                        << Action::ShowHelp
                                                        << "Usage: orvantide-service [" << false;
        QTest::newRow("windowed takes Qt's options")
            << windowed << QStringList{"-style", "fusion", "-reverse"} << Action::Run << "" << false;
        QTest::newRow("the service refuses them") << service << QStringList{"-style", "fusion"}
                                                  << Action::Error
                                                  << "orvantide-service: Unknown option" << true;
        QTest::newRow("the service always runs headless, and takes --headless")
            << service << QStringList{"--headless"} << Action::Run << "" << true;
        QTest::newRow("either stores a port")
            << windowed << QStringList{"--set-port", "rfc2217://a:1"} << Action::SetPort << ""
            << false;
        QTest::newRow("the service serves a folder")
            << service << QStringList{"--displays", "/etc/orvantide/displays"} << Action::Run << ""
            << true;
        QTest::newRow("a folder or a settings file")
            << service << QStringList{"--settings", "a.ini", "--displays", "b"} << Action::Error
            << "orvantide-service: --displays needs a folder, and no --settings" << true;
        QTest::newRow("the windowed program serves one display")
            << windowed << QStringList{"--displays", "b"} << Action::Error
            << "orvantide: Unknown option 'displays'" << false;
    }

    void programs()
    {
        QFETCH(Program, program);
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        QFETCH(QString, textStart);
        QFETCH(bool, headless);
        const CommandLine line = CommandLine::parse(arguments, program);
        QCOMPARE(line.action, action);
        QVERIFY2(textStart.isEmpty() || line.text.startsWith(textStart), qPrintable(line.text));
        // Qt's options are offered where they are taken, and only there.
        QCOMPARE(line.text.contains(QLatin1String("-style")), action == Action::ShowHelp &&
                                                                  program == Program::Windowed);
        if (action == Action::Run)
            QCOMPARE(line.headless, headless);
        if (action == Action::SetPort)
            QCOMPARE(line.port, arguments.last());
        if (action == Action::Run)
            QCOMPARE(line.displays, arguments.contains("--displays") ? arguments.last() : QString());
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
