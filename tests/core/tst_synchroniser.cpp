#include "core/fakes.h"
#include "platform/SerialPorts.h"

#include "core/ClockTicker.h"
#include "core/ClockWatch.h"
#include "core/MinuteSchedule.h"
#include "core/PortKeeper.h"
#include "core/PortNames.h"
#include "core/Synchroniser.h"
#include "core/TimeFrame.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

QDateTime at(const QTime &time)
{
    return QDateTime(QDate(2026, 12, 7), time);
}

Settings settingsFor(const QString &commPort, qint16 interval = 720)
{
    Settings settings;
    settings.commPort = commPort;
    settings.lineSettings = QStringLiteral("9600,N,8,1");
    settings.interval = interval;
    return settings;
}

using Status = RecordingView::Status;

} // namespace

class tst_Synchroniser : public QObject
{
    Q_OBJECT

    FakeLink m_link;
    FakeClock m_clock;
    RecordingView m_view;
    std::unique_ptr<Synchroniser> m_sync;

    void reachSlot() { ::reachSlot(m_sync->writer(), m_clock); }

    /// Started on /dev/x with a long interval, start-up's frame written and forgotten.
    void startedAndSynced()
    {
        QCOMPARE(m_sync->start(settingsFor(testDevice("/dev/x"))),
                 Synchroniser::StartUpResult::Started);
        reachSlot();
        m_link.written.clear();
    }

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

    void init()
    {
        m_link = FakeLink();
        m_clock = FakeClock();
        m_view = RecordingView();
        m_sync =
            std::make_unique<Synchroniser>(m_link, m_clock, m_view, FrameWriter::Threading::Caller);
    }

    void cleanup() { m_sync.reset(); }

    void startUp_data()
    {
        QTest::addColumn<QString>("commPort");
        QTest::addColumn<QString>("device");
        QTest::newRow("number names the platform's port") << "1" << PortNames::deviceForNumber(1);
        QTest::newRow("blanks and sign") << " +3 " << PortNames::deviceForNumber(3);
        QTest::newRow("device path") << testDevice() << testDevice();
    }

    void startUp()
    {
        QFETCH(QString, commPort);
        QFETCH(QString, device);
        QCOMPARE(m_sync->start(settingsFor(commPort, 60)), Synchroniser::StartUpResult::Started);
        QCOMPARE(m_link.opened, QStringList{device});
        QCOMPARE(m_view.clocks.value(0), QTime(14, 5, 8));
        // The window gives way only once the first frame is written.
        QCOMPARE(m_view.startUps, 0);
        reachSlot();
        QCOMPARE(m_link.written, QList<QByteArray>{TimeFrame(QTime(14, 5, 9))});
        QCOMPARE(m_view.startUps, 1);
        QCOMPARE(m_view.synced, QList<QDateTime>{at(QTime(14, 5, 9))});
        QVERIFY(m_sync->ticker().timer()->isActive());
        QVERIFY(m_sync->schedule().timer()->isActive());
        // Later frames are no start-up's.
        m_sync->syncNow();
        reachSlot();
        QCOMPARE(m_view.startUps, 1);
    }

    void startUpWhenThePortFails_data()
    {
        QTest::addColumn<QString>("commPort");
        QTest::addColumn<QString>("openError");
        QTest::addColumn<QString>("writeError");
        QTest::addColumn<QString>("reason");

        QTest::newRow("open fails") << "4"
                                    << "Could not open /dev/ttyS3: No such file or directory"
                                    << ""
                                    << "Could not open /dev/ttyS3: No such file or directory";
        QTest::newRow("first write fails") << "4"
                                           << ""
                                           << "Input/output error"
                                           << "Input/output error";
        QTest::newRow("port number 0") << "0"
                                       << ""
                                       << ""
                                       << "No serial port has the number 0.";
    }

    void startUpWhenThePortFails()
    {
        QFETCH(QString, commPort);
        QFETCH(QString, openError);
        QFETCH(QString, writeError);
        QFETCH(QString, reason);
        m_link.openError = openError;
        m_link.writeError = writeError;

        QCOMPARE(m_sync->start(settingsFor(commPort, 30)),
                 writeError.isEmpty() ? Synchroniser::StartUpResult::PortNotOpen
                                      : Synchroniser::StartUpResult::Started);
        reachSlot();
        QCOMPARE(m_view.status, Status::PortNotOpen);
        QCOMPARE(m_view.reason(), reason);
        QCOMPARE(m_view.startUps, 0);
        QVERIFY(m_link.written.isEmpty());
        QVERIFY(!m_link.isOpen());
        // The clock runs and the schedule keeps reporting, whatever the outcome.
        QVERIFY(m_sync->ticker().timer()->isActive());
        QVERIFY(m_sync->schedule().timer()->isActive());
    }

    void schedule_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("due");
        QTest::addColumn<int>("countAfter");

        QTest::newRow("every minute") << 1 << 3 << 3 << 0;
        QTest::newRow("30: one short") << 30 << 29 << 0 << 29;
        QTest::newRow("30: due") << 30 << 30 << 1 << 0;
        QTest::newRow("30: twice and one") << 30 << 61 << 2 << 1;
        QTest::newRow("720: due after 12 hours") << 720 << 720 << 1 << 0;
        QTest::newRow("0: never") << 0 << 100 << 0 << 100;
        // 22 days of minutes: the count stops at 32767 rather than wrapping round.
        QTest::newRow("negative: count stops at its limit") << -5 << 32800 << 0 << 32767;
    }

    void schedule()
    {
        QFETCH(int, interval);
        QFETCH(int, ticks);
        QFETCH(int, due);
        QFETCH(int, countAfter);
        MinuteSchedule schedule;
        QSignalSpy spy(&schedule, &MinuteSchedule::due);
        schedule.setInterval(qint16(interval));
        for (int i = 0; i < ticks; ++i)
            schedule.minutePassed();
        QCOMPARE(spy.size(), due);
        QCOMPARE(int(schedule.count()), countAfter);
    }

    // Each scheduled sync writes a frame, or, with the port closed, says so again.
    void scheduledSyncs_data()
    {
        QTest::addColumn<bool>("portWorks");
        QTest::newRow("port open") << true;
        QTest::newRow("port failing") << false;
    }

    void scheduledSyncs()
    {
        QFETCH(bool, portWorks);
        if (!portWorks)
            m_link.openError = QStringLiteral("Could not open /dev/x: gone");
        m_sync->start(settingsFor(testDevice("/dev/x"), 1));
        reachSlot();
        const int before = m_view.statusChanges;
        for (int i = 0; i < 2; ++i) {
            m_sync->schedule().minutePassed();
            reachSlot();
        }
        QCOMPARE(m_link.written.size(), portWorks ? 3 : 0);
        QCOMPARE(m_view.statusChanges - before, 2);
        QCOMPARE(m_view.status, portWorks ? Status::Synced : Status::PortNotOpen);
    }

    void syncNowLeavesTheCountAlone()
    {
        m_sync->start(settingsFor(testDevice("/dev/x"), 30));
        for (int i = 0; i < 10; ++i)
            m_sync->schedule().minutePassed();
        m_sync->syncNow();
        QCOMPARE(m_sync->schedule().count(), qint16(10));
    }

    void clockTicks_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QTime>("shown");
        QTest::addColumn<int>("nextTickMs");
        // Ticks come just after the change of second and half a second later.
        QTest::newRow("just after") << QTime(21, 5, 7, 1) << QTime(21, 5, 7) << 500;
        QTest::newRow("half past") << QTime(21, 5, 7, 501) << QTime(21, 5, 7) << 500;
        QTest::newRow("late tick") << QTime(21, 5, 7, 300) << QTime(21, 5, 7) << 201;
        // A timer that fires a little before the change of second shows the new one.
        QTest::newRow("early tick") << QTime(9, 5, 6, 990) << QTime(9, 5, 7) << 511;
        QTest::newRow("too early to count") << QTime(9, 5, 6, 940) << QTime(9, 5, 6) << 61;
        QTest::newRow("early for half past") << QTime(9, 5, 7, 480) << QTime(9, 5, 7) << 521;
        QTest::newRow("midnight") << QTime(0, 0, 0, 1) << QTime(0, 0, 0) << 500;
    }

    // The tick is aimed just past each change of second, so the clock never skips or
    // repeats a second as a repeating one-second timer drifting against the PC clock would.
    void clockTicks()
    {
        QFETCH(QTime, time);
        QFETCH(QTime, shown);
        QFETCH(int, nextTickMs);
        ClockTicker ticker(m_clock);
        QSignalSpy seconds(&ticker, &ClockTicker::secondChanged);
        m_clock.set(QTime(12, 0, 0));
        ticker.start();
        m_clock.set(time);
        ticker.tick();
        QCOMPARE(seconds.last().first().toTime(), shown);
        QVERIFY(ticker.timer()->isActive());
        QCOMPARE(ticker.timer()->interval(), nextTickMs);
    }

    void clockJumps_data()
    {
        QTest::addColumn<int>("wallMs"); ///< how far the PC clock moved between two ticks
        QTest::addColumn<double>("monoMs"); ///< how far the monotonic clock moved
        QTest::addColumn<bool>("sync");
        QTest::newRow("steady") << 1000 << 1000.0 << false;
        QTest::newRow("late tick") << 1900 << 1900.0 << false;
        QTest::newRow("slewed by a millisecond") << 1001 << 1000.0 << false;
        QTest::newRow("stepped 49 ms") << 1049 << 1000.0 << false;
        QTest::newRow("stepped 50 ms") << 1050 << 1000.0 << true;
        QTest::newRow("stepped 50 ms back") << 950 << 1000.0 << true;
        // The clocks are read one after the other: a step of 50 ms may read a little short.
        QTest::newRow("stepped 50 ms back, read 0.4 ms short") << 950 << 999.6 << true;
        QTest::newRow("stepped 0.9 s back") << 100 << 1000.0 << true;
        QTest::newRow("a second repeated") << 0 << 1000.0 << true;
        QTest::newRow("daylight saving: an hour forward") << 3601000 << 1000.0 << true;
        QTest::newRow("an hour back") << -3599000 << 1000.0 << true;
        QTest::newRow("resume after an hour asleep") << 3600000 << 0.0 << true;
    }

    // A step of the PC clock (a daylight-saving change, a time server, a resume) is
    // followed at once, not at the next scheduled sync hours later.
    void clockJumps()
    {
        QFETCH(int, wallMs);
        QFETCH(double, monoMs);
        QFETCH(bool, sync);
        startedAndSynced();
        m_sync->ticker().tick();

        m_clock.mono += qint64(monoMs * 1e6);
        m_clock.wall = m_clock.wall.addMSecs(wallMs);
        m_sync->ticker().tick();
        QCOMPARE(m_sync->writer().pendingSecond().isValid(), sync);
        const QDateTime carried = m_sync->writer().pendingSecond();
        reachSlot();
        QCOMPARE(m_link.written.size(), sync ? 1 : 0);
        if (sync) // the new time, within the second
            QVERIFY(std::abs(carried.msecsTo(m_clock.wall)) < 1000);
    }

    // A port that failed to open, or went away, is tried again every ten seconds and at
    // every sync, so the display is served again without a restart.
    void closedPortIsTriedAgain()
    {
        m_link.openError = QStringLiteral("Could not open /dev/x: No such file or directory");
        QCOMPARE(m_sync->start(settingsFor(testDevice("/dev/x"))),
                 Synchroniser::StartUpResult::PortNotOpen);
        auto tick = [&] {
            m_clock.advanceMs(1000);
            m_sync->ticker().tick();
        };
        for (int i = 0; i < PortKeeper::kRetrySeconds - 1; ++i)
            tick();
        QCOMPARE(m_link.opened.size(), 1);
        tick();
        QCOMPARE(m_link.opened.size(), 2);
        QCOMPARE(m_view.status, Status::PortNotOpen);
        // Every sync tries as well.
        m_sync->syncNow();
        QCOMPARE(m_link.opened.size(), 3);

        m_link.openError.clear();
        for (int i = 0; i < PortKeeper::kRetrySeconds; ++i)
            tick();
        QCOMPARE(m_link.opened.size(), 4);
        reachSlot();
        QCOMPARE(m_link.written.size(), 1);
        QCOMPARE(m_view.status, Status::Synced);

        // Not while the settings dialog has the port.
        m_sync->suspend();
        for (int i = 0; i < 2 * PortKeeper::kRetrySeconds; ++i)
            tick();
        QCOMPARE(m_link.opened.size(), 4);
    }

    void soonRetriesGrowWithTheTimeAway_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("awaySeconds");
        QTest::addColumn<int>("waitMs"); ///< -1: no soon try
        QTest::newRow("just refused") << true << 0 << 300;
        QTest::newRow("a tenth of 40 s away") << true << 40 << 4000;
        QTest::newRow("at most 5 s") << true << 600 << 5000;
        QTest::newRow("not there: left to its watch") << false << 0 << -1;
    }

    // A device that is there but refuses its open (its driver still binding) is tried
    // again after a tenth of the time since it was first refused, from 0.3 s to 5 s, until
    // it opens.
    void soonRetriesGrowWithTheTimeAway()
    {
        QFETCH(bool, present);
        QFETCH(int, awaySeconds);
        QFETCH(int, waitMs);
        FakeDeviceWatch watch;
        watch.present = present;
        m_sync->setDeviceWatch(&watch);
        m_link.openError = QStringLiteral("Could not open /dev/x: Input/output error");
        QCOMPARE(m_sync->start(settingsFor(testDevice("/dev/x"))),
                 Synchroniser::StartUpResult::PortNotOpen);
        QCOMPARE(watch.watched, testDevice("/dev/x"));
        m_clock.advanceMs(qint64(awaySeconds) * 1000);
        QVERIFY(!m_sync->port().open());
        const QTimer *soon = m_sync->port().soonRetry();
        QCOMPARE(soon->isActive() ? soon->interval() : -1, waitMs);
        m_link.openError.clear();
        QVERIFY(m_sync->port().open());
        QVERIFY(!soon->isActive());
        QCOMPARE(watch.watched, QString());
    }

    // A server that drops each connection at once is retried with the growing wait of one
    // that is away and told of once; one whose connections hold is back to the shortest
    // wait, and each loss and return is told, as each of a device that is replugged.
    void droppedConnections_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("heldMs");    ///< how long each connection lasts
        QTest::addColumn<int>("waitS");     ///< the last soon try, 40 to 45 s in, whole seconds
        QTest::addColumn<bool>("eachTold"); ///< each loss and return is told; else the first
        const QString server = QStringLiteral("rfc2217://display:4001");
        QTest::newRow("dropped at once") << server << 0 << 4 << false;
        QTest::newRow("held 5 s each time") << server << 5000 << 0 << true;
        QTest::newRow("a device replugged") << testDevice("/dev/x") << 0 << -1 << true;
    }

    void droppedConnections()
    {
        QFETCH(QString, port);
        QFETCH(int, heldMs);
        QFETCH(int, waitS);
        QFETCH(bool, eachTold);
        if (PortNames::deviceFor(port).value_or(QString()).isEmpty())
            QSKIP("this platform's ports are on the computer only");
        QLoggingCategory::setFilterRules(QStringLiteral("orvantide.sync.info=true"));
        const auto defaultRules = qScopeGuard([] { QLoggingCategory::setFilterRules({}); });
        static int lost, opened;
        lost = opened = 0;
        const QtMessageHandler testsHandler =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
                lost += text.startsWith(QLatin1String("port closed"));
                opened += text.startsWith(QLatin1String("port open"));
            });
        QCOMPARE(m_sync->start(settingsFor(port)), Synchroniser::StartUpResult::Started);
        const QTimer *soon = m_sync->port().soonRetry();
        int losses = 0;
        int waitMs = -1; ///< the soon try planned after the last loss
        for (qint64 away = 0; away < 45'000; ++losses) {
            m_clock.advanceMs(heldMs);
            m_link.hangUp(port + QStringLiteral(" hung up"));
            waitMs = soon->isActive() ? soon->interval() : -1;
            m_clock.advanceMs(std::max(waitMs, 1000));
            away += heldMs + std::max(waitMs, 1000);
            QVERIFY(m_sync->port().open());
        }
        qInstallMessageHandler(testsHandler);
        QCOMPARE(waitMs < 0 ? -1 : waitMs / 1000, waitS);
        QCOMPARE(lost, eachTold ? losses : 1);
        QCOMPARE(opened, eachTold ? losses + 1 : 1);
    }

    // A hang-up closes the port at once and says why; the waiting frame is dropped.
    void hangUpClosesThePort()
    {
        startedAndSynced();
        m_sync->syncNow();
        QVERIFY(m_link.hangUp);
        m_link.hangUp(QStringLiteral("/dev/x hung up (the device went away)."));
        QVERIFY(!m_link.isOpen());
        QVERIFY(!m_sync->writer().pendingSecond().isValid());
        QCOMPARE(m_view.status, Status::PortNotOpen);
        QCOMPARE(m_view.reason(), QStringLiteral("/dev/x hung up (the device went away)."));
    }

    // The settings dialog has the port while it is open; the settings it returns are
    // applied at once: the new port opened, the schedule counting afresh, a frame sent.
    void suspendAndApply()
    {
        startedAndSynced();
        for (int i = 0; i < 5; ++i)
            m_sync->schedule().minutePassed();
        m_sync->syncNow();
        m_sync->suspend();
        QVERIFY(!m_link.isOpen());
        QVERIFY(!m_sync->writer().pendingSecond().isValid());
        QVERIFY(!m_sync->schedule().timer()->isActive());
        QCOMPARE(m_view.status, Status::PortLent);
        m_sync->syncNow(); // SYNC NOW meanwhile
        QCOMPARE(m_link.opened.size(), 1);
        QCOMPARE(m_view.status, Status::PortLent);

        m_sync->apply(settingsFor(QStringLiteral("2"), 1));
        QCOMPARE(m_link.opened.last(), PortNames::deviceForNumber(2));
        QCOMPARE(m_sync->schedule().count(), qint16(0));
        QVERIFY(m_sync->schedule().timer()->isActive());
        reachSlot();
        QCOMPARE(m_link.written.size(), 1);
        QCOMPARE(m_view.status, Status::Synced);
        m_sync->schedule().minutePassed();
        QVERIFY(m_sync->writer().pendingSecond().isValid());
    }

    void pcClockState_data()
    {
        QTest::addColumn<bool>("told");         ///< the system says anything
        QTest::addColumn<bool>("synchronised"); ///< what it says
        QTest::addColumn<bool>("warn");         ///< the setting
        QTest::addColumn<bool>("warned");
        QTest::newRow("synchronised") << true << true << true << false;
        QTest::newRow("not synchronised") << true << false << true << true;
        QTest::newRow("the system does not tell") << false << false << true << false;
        QTest::newRow("warning turned off") << true << false << false << false;
    }

    // The display follows the PC clock, synchronised or not; the view learns when the PC
    // clock is itself not synchronised, and since when. The system is asked at a sync and
    // once a minute at the most.
    void pcClockState()
    {
        QFETCH(bool, told);
        QFETCH(bool, synchronised);
        QFETCH(bool, warn);
        QFETCH(bool, warned);
        FakeClockSource source;
        if (told)
            source.state = ClockSourceState{synchronised, 16'000'000};
        m_sync->setClockSource(&source);
        Settings settings = settingsFor(testDevice("/dev/x"));
        settings.warnUnsynchronised = warn;
        m_sync->start(settings);
        reachSlot();
        QCOMPARE(m_link.written.size(), 1);
        const QList<QDateTime> expected =
            warned ? QList<QDateTime>{at(QTime(14, 5, 8, 993))} : QList<QDateTime>{};
        QCOMPARE(m_view.unsynchronisedSince, expected);
        const int asked = source.queries;
        QCOMPARE(asked, warn ? 1 : 0);

        // Within the minute: not asked again, however often it ticks or syncs.
        for (int i = 0; i < 100; ++i) {
            m_clock.advanceMs(500);
            m_sync->ticker().tick();
        }
        m_sync->syncNow();
        reachSlot();
        QCOMPARE(source.queries, asked);
        if (!warn)
            return;
        // Synchronised again, a minute later.
        source.state = ClockSourceState{true, 0};
        m_clock.advanceMs(10'000);
        m_sync->ticker().tick();
        QCOMPARE(source.queries, asked + 1);
        QCOMPARE(m_view.unsynchronisedSince.size(), warned ? 2 : 0);
        if (warned)
            QVERIFY(!m_view.unsynchronisedSince.last().isValid());
    }

    void shutDownClosesThePort()
    {
        startedAndSynced();
        m_sync->syncNow();
        m_sync->shutDown();
        QVERIFY(!m_link.isOpen());
        QVERIFY(!m_sync->writer().pendingSecond().isValid());
        QVERIFY(!m_sync->ticker().timer()->isActive());
        QVERIFY(!m_sync->schedule().timer()->isActive());
    }
};

QTEST_GUILESS_MAIN(tst_Synchroniser)
#include "tst_synchroniser.moc"
