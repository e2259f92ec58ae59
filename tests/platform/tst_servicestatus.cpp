// What the service tells systemd: each state of the port in one status line, ready once,
// and watchdog pings only while the main loop runs.

#include "platform/ServiceStatus.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <map>
#include <memory>

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

    void aSummaryForManyDisplays_data()
    {
        QTest::addColumn<QStringList>("events"); ///< display:event, "tell" a turn of the loop
        QTest::addColumn<QList<QByteArray>>("sent");
        const QByteArray ready("READY=1\n");
        QTest::newRow("ready once every display has settled")
            << QStringList{"a:frame", "tell", "b:lost", "tell", "b:frame", "tell"}
            << QList<QByteArray>{
                   "STATUS=2 displays, 1 with their frames; b: starting",
                   ready + "STATUS=2 displays, 1 with their frames; b: port not open: gone",
                   "STATUS=2 displays, 2 with their frames"};
        QTest::newRow("the changes of one turn told once, three named")
            << QStringList{"a:lost", "b:lost", "c:frame", "d:lost", "e:lost", "f:lost", "tell"}
            << QList<QByteArray>{ready + "STATUS=6 displays, 1 with their frames; a: port not "
                                         "open: gone; b: port not open: gone; d: port not open: "
                                         "gone; 2 more without frames"};
        QTest::newRow("the PC clock's warning once")
            << QStringList{"a:frame", "b:frame", "a:clock", "b:clock", "tell"}
            << QList<QByteArray>{ready + "STATUS=2 displays, 2 with their frames; the PC clock "
                                         "is not synchronised to a time source since "
                                         "2026-12-07 09:00:00"};
        QTest::newRow("a reload ends ready, a display gone")
            << QStringList{"a:frame", "b:frame", "tell",    "reloading",
                           "b:gone",  "a:frame", "reloaded"}
            << QList<QByteArray>{ready + "STATUS=2 displays, 2 with their frames",
                                 "RELOADING=1\nSTATUS=reading the settings files again",
                                 ready + "STATUS=1 displays, 1 with their frames"};
    }

    void aSummaryForManyDisplays()
    {
        QFETCH(QStringList, events);
        QFETCH(QList<QByteArray>, sent);
        QList<QByteArray> told;
        ServiceStatus process([&](const QByteArray &message) { told << message; }, 0);
        ServiceStatusSummary summary(process);
        std::map<QString, std::unique_ptr<ServiceStatus>> displays;
        for (const QString &event : events) // every display starts first
            if (event.contains(QLatin1Char(':')) &&
                !displays[event.section(QLatin1Char(':'), 0, 0)])
                displays[event.section(QLatin1Char(':'), 0, 0)] =
                    summary.forDisplay(event.section(QLatin1Char(':'), 0, 0));
        for (const QString &event : events) {
            const QString name = event.section(QLatin1Char(':'), 0, 0);
            const QString what = event.section(QLatin1Char(':'), 1);
            if (what.isEmpty() && name == QLatin1String("tell"))
                QCoreApplication::processEvents();
            else if (name == QLatin1String("reloading"))
                summary.reloading();
            else if (name == QLatin1String("reloaded"))
                summary.reloaded();
            if (what.isEmpty())
                continue;
            const auto &display = displays[name];
            if (what == QLatin1String("frame"))
                display->showSynced(QDateTime(QDate(2026, 12, 7), QTime(10, 3, 7)));
            else if (what == QLatin1String("lost"))
                display->showPortNotOpen(QStringLiteral("gone"));
            else if (what == QLatin1String("clock"))
                display->showPcClockState(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
            else if (what == QLatin1String("gone"))
                summary.remove(name);
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
