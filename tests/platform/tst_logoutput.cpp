// The log's lines as the journal and a terminal read them.

#include "platform/LogOutput.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(tst_LogOutput)
#include "tst_logoutput.moc"
