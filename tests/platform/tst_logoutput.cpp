// The log's lines as the journal and a terminal read them, and a reader that takes none.

#include "platform/LogOutput.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class tst_LogOutput : public QObject
{
    Q_OBJECT

private slots:
    void lines_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("journal");
        QTest::addColumn<QByteArray>("line");
        const QByteArray time("2026-12-07 10:03:07.045 ");
        QTest::newRow("journal: bad settings are an error") << int(QtCriticalMsg) << true
                                                            << QByteArray("<3>a b\n");
        QTest::newRow("journal: a failed open is a warning") << int(QtWarningMsg) << true
                                                             << QByteArray("<4>a b\n");
        QTest::newRow("journal: a reconnect is a notice") << int(QtInfoMsg) << true
                                                          << QByteArray("<5>a b\n");
        QTest::newRow("journal: a frame sent is info") << int(QtDebugMsg) << true
                                                       << QByteArray("<6>a b\n");
        QTest::newRow("terminal: the local time to the millisecond")
            << int(QtWarningMsg) << false << time + "a b\n";
    }

    // One message is one line, with its priority where the journal reads it and the time
    // where nothing else adds it.
    void lines()
    {
        QFETCH(int, type);
        QFETCH(bool, journal);
        QFETCH(QByteArray, line);
        const QDateTime at(QDate(2026, 12, 7), QTime(10, 3, 7, 45));
        QCOMPARE(LogOutput::formatLine(QtMsgType(type), QStringLiteral("a\nb"),
                                       journal ? LogOutput::Sink::Journal : LogOutput::Sink::Plain,
                                       at),
                 line);
    }

#ifdef Q_OS_LINUX
    // A reader of standard error that takes nothing holds up no message: one line is in
    // its write, 512 wait, and the rest are dropped and counted.
    void aStalledReaderKeepsAtMost512Lines()
    {
        int pipeEnds[2];
        QCOMPARE(pipe2(pipeEnds, O_CLOEXEC), 0);
        // The smallest pipe, and lines longer than it: the first write never ends.
        QVERIFY(fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096) >= 0);
        const int savedError = dup(2);
        QCOMPARE(dup2(pipeEnds[1], 2), 2);
        const QtMessageHandler testsHandler = qInstallMessageHandler(nullptr);
        LogOutput::install();
        const QString line(5000, QLatin1Char('x'));
        for (int i = 0; i < 1000; ++i)
            qWarning("%s", qPrintable(line));
        const quint64 dropped = LogOutput::dropped();
        qInstallMessageHandler(testsHandler);
        ::close(pipeEnds[0]); // the reader goes: the writer drains the queue into EPIPE
        LogOutput::flush(10000);
        dup2(savedError, 2);
        ::close(savedError);
        ::close(pipeEnds[1]);
        // The writer may not yet have taken the first line off the queue when it filled.
        QVERIFY2(dropped == 1000 - 513 || dropped == 1000 - 512, qPrintable(QString::number(dropped)));
    }
#endif
};

QTEST_GUILESS_MAIN(tst_LogOutput)
#include "tst_logoutput.moc"
