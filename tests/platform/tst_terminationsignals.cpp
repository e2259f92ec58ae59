// Signals that arrive while the program is busy, as a daemon is sent them.

#include "platform/TerminationSignals.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

class tst_TerminationSignals : public QObject
{
    Q_OBJECT

private slots:
    void signalsAreCoalesced_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<QList<int>>("told");
        const QList<int> reloads(1500, SIGHUP);
        QTest::newRow("1500 reloads are one") << reloads << QList<int>{SIGHUP};
        QTest::newRow("an end never waits behind reloads") << reloads + QList<int>{SIGTERM}
                                                            << QList<int>{SIGTERM};
    }

    void signalsAreCoalesced()
    {
        QFETCH(QList<int>, sent);
        QFETCH(QList<int>, told);
        TerminationSignals termination;
        QSignalSpy received(&termination, &TerminationSignals::received);
        for (const int signal : sent)
            QCOMPARE(::raise(signal), 0);
        QTRY_VERIFY(!received.isEmpty());
        QCoreApplication::processEvents();
        QList<int> got;
        for (const QList<QVariant> &arguments : received)
            got << arguments.first().toInt();
        QCOMPARE(got, told);
    }
};

QTEST_GUILESS_MAIN(tst_TerminationSignals)
#include "tst_terminationsignals.moc"
