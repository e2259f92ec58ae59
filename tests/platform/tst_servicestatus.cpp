// What the service tells systemd: each state of the port in one status line, ready once,
// and watchdog pings only while the main loop runs.

#include "platform/ServiceStatus.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

class tst_ServiceStatus : public QObject
{
    Q_OBJECT

private slots:
    void statusLines_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QList<QByteArray>>("sent");
        const QByteArray ready("READY=1\n");
        const QByteArray frame("STATUS=last frame 2026-12-07 10:03:07 on /dev/ttyUSB0");
        const QByteArray lost("STATUS=port not open: /dev/ttyUSB0 hung up");
        const QByteArray clock("; the PC clock is not synchronised to a time source since "
                               "2026-12-07 09:00:00");
        QTest::newRow("start-up's frame: ready") << "frame" << QList<QByteArray>{ready + frame};
        QTest::newRow("port not open at start-up: ready all the same")
            << "lost" << QList<QByteArray>{ready + lost};
        QTest::newRow("the port lost after a frame, ready once")
            << "frame lost" << QList<QByteArray>{ready + frame, lost};
        QTest::newRow("the PC clock's warning follows the state")
            << "frame clock" << QList<QByteArray>{ready + frame, frame + clock};
        QTest::newRow("a reload") << "frame reload"
                                  << QList<QByteArray>{ready + frame,
                                                       "RELOADING=1\nSTATUS=reading the settings "
                                                       "file again",
                                                       ready + frame};
    }

    void statusLines()
    {
        QFETCH(QString, events);
        QFETCH(QList<QByteArray>, sent);
        QList<QByteArray> told;
        ServiceStatus status([&](const QByteArray &message) { told << message; }, 0);
        status.setPort(QStringLiteral("/dev/ttyUSB0"));
        for (const QString &event : events.split(QLatin1Char(' '))) {
            if (event == QLatin1String("frame"))
                status.showSynced(QDateTime(QDate(2026, 12, 7), QTime(10, 3, 7)));
            else if (event == QLatin1String("lost"))
                status.showPortNotOpen(QStringLiteral("/dev/ttyUSB0 hung up"));
            else if (event == QLatin1String("clock"))
                status.showPcClockState(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
            else if (event == QLatin1String("reload")) {
                status.reloading();
                status.reloaded();
            }
        }
        QCOMPARE(told, sent);
    }

    // The pings come from the main loop: a loop that is blocked sends none, so systemd
    // sees it and restarts the service.
    void watchdogPingsOnlyWhileTheLoopRuns()
    {
        int pings = 0;
        ServiceStatus status(
            [&](const QByteArray &message) { pings += message == "WATCHDOG=1" ? 1 : 0; }, 20'000);
        QThread::msleep(100); // the loop blocked for ten intervals
        QCOMPARE(pings, 0);
        QTRY_VERIFY(pings >= 3);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceStatus)
#include "tst_servicestatus.moc"
