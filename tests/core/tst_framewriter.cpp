#include "core/fakes.h"

#include "core/FrameWriter.h"
#include "core/SyncSlot.h"
#include "core/ThreadScheduling.h"
#include "core/TimeFrame.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <future>
#include <memory>
#include <vector>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QDateTime at(const QTime &time)
{
    return QDateTime(QDate(2026, 12, 7), time);
}

/// 9600,N,8,1: six characters of ten bits.
constexpr qint64 kFrameLineTimeNs = 6'250'000;

/// A clock whose first reading is interrupted: 3 ms pass before it returns, as a busy PC
/// takes the processor from a thread between its readings of the two clocks.
class InterruptedClock : public FakeClock
{
public:
    qint64 wallNs() const override { return interruptedAfter(FakeClock::wallNs()); }
    qint64 monotonicNs() const override { return interruptedAfter(FakeClock::monotonicNs()); }

private:
    mutable bool m_interrupted = false;
    qint64 interruptedAfter(qint64 reading) const
    {
        if (!std::exchange(m_interrupted, true))
            const_cast<InterruptedClock *>(this)->advanceMs(3);
        return reading;
    }
};

/// Answers as told and remembers which thread asked, and how often its precise timers
/// were held and let go.
struct FakeScheduling : ThreadScheduling
{
    Outcome answer;
    std::thread::id askedBy;
    int asked = 0;
    std::atomic<int> timersHeld{0};
    std::atomic<int> timersLetGo{0};
    qint64 awake = kDefaultAwakeNs;
    Outcome makeCurrentThreadRealTime() override
    {
        askedBy = std::this_thread::get_id();
        ++asked;
        return answer;
    }
    bool holdPreciseTimers(bool hold) override
    {
        ++(hold ? timersHeld : timersLetGo);
        return hold;
    }
    qint64 awakeNs(bool) const override { return awake; }
};

} // namespace

/// A port that takes nothing at once and holds its writer until the test lets it go.
class StuckLink : public FakeLink
{
public:
    Started startWrite(const QByteArray &, QString *) override { return Started::Pending; }
    bool finishWrite(QString *error) override
    {
        held.get_future().wait();
        *error = QStringLiteral("stuck");
        return false;
    }
    std::promise<void> held;
};

class tst_FrameWriter : public QObject
{
    Q_OBJECT

    FakeLink m_link;
    FakeClock m_clock;
    std::unique_ptr<FrameWriter> m_writer;

private slots:
    void init()
    {
        m_link = FakeLink();
        m_link.portOpen = true;
        m_clock = FakeClock();
        m_writer = std::make_unique<FrameWriter>(m_link, m_clock, FrameWriter::Threading::Caller);
        m_writer->setFrameLineTimeNs(kFrameLineTimeNs);
    }

    void timeFrame_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("midnight") << QTime(0, 0, 0) << bytes({0xFE, 0x10, 0x00, 0x00, 0x00, 0xFF});
        QTest::newRow("23:59:59") << QTime(23, 59, 59)
                                  << bytes({0xFE, 0x10, 0x3B, 0x3B, 0x17, 0xFF});
        QTest::newRow("14:05:09") << QTime(14, 5, 9) << bytes({0xFE, 0x10, 0x09, 0x05, 0x0E, 0xFF});
        QTest::newRow("milliseconds ignored")
            << QTime(10, 20, 30, 999) << bytes({0xFE, 0x10, 0x1E, 0x14, 0x0A, 0xFF});
    }

    void timeFrame()
    {
        QFETCH(QTime, time);
        QFETCH(QByteArray, frame);
        QCOMPARE(TimeFrame(time), frame);
    }

    void syncSlot_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<qint64>("extraNs"); ///< below the millisecond
        QTest::addColumn<qint64>("lineTimeUs");
        QTest::addColumn<QDateTime>("second");
        QTest::addColumn<qint64>("delayUs");
        QTest::newRow("mid-second")
            << at(QTime(14, 5, 8, 500)) << 0LL << 6250LL << at(QTime(14, 5, 9)) << 493750LL;
        QTest::newRow("on the second")
            << at(QTime(14, 5, 9)) << 0LL << 6250LL << at(QTime(14, 5, 10)) << 993750LL;
        QTest::newRow("too close: the next second")
            << at(QTime(14, 5, 8, 995)) << 0LL << 6250LL << at(QTime(14, 5, 10)) << 998750LL;
        // 300,N,8,1: 200 ms on the line.
        QTest::newRow("slow line")
            << at(QTime(14, 5, 8, 700)) << 0LL << 200000LL << at(QTime(14, 5, 9)) << 100000LL;
        QTest::newRow("slow line, too close")
            << at(QTime(14, 5, 8, 850)) << 0LL << 200000LL << at(QTime(14, 5, 10)) << 950000LL;
        // The clock cut to the millisecond would put writes up to a millisecond late.
        QTest::newRow("below the millisecond")
            << at(QTime(14, 5, 8, 500)) << 750'000LL << 6250LL << at(QTime(14, 5, 9)) << 493000LL;
        QTest::newRow("midnight carries the new day")
            << at(QTime(23, 59, 59, 400)) << 0LL << 6250LL
            << QDateTime(QDate(2026, 12, 8), QTime(0, 0)) << 593750LL;
    }

    void syncSlot()
    {
        QFETCH(QDateTime, now);
        QFETCH(qint64, extraNs);
        QFETCH(qint64, lineTimeUs);
        QFETCH(QDateTime, second);
        QFETCH(qint64, delayUs);
        const SyncSlot slot = nextSyncSlot(now.toMSecsSinceEpoch() * 1'000'000 + extraNs,
                                           lineTimeUs * 1000, 3'000'000);
        QCOMPARE(slot.second, second);
        QCOMPARE(slot.delayNs, delayUs * 1000);
    }

    // The frame carries the second at whose start its last byte leaves: the display is
    // never set up to a second late. A wake before the moment writes nothing yet.
    void frameWaitsForItsMoment_data()
    {
        QTest::addColumn<qint64>("earlyNs");
        QTest::newRow("a millisecond early") << 1'000'000LL;
        QTest::newRow("a microsecond early") << 1'000LL;
        QTest::newRow("half a second early") << 490'000'000LL;
    }

    void frameWaitsForItsMoment()
    {
        QFETCH(qint64, earlyNs);
        m_writer->request();
        QCOMPARE(m_writer->pendingSecond(), at(QTime(14, 5, 9)));
        QCOMPARE(m_writer->nsUntilWrite(), 493'750'000);
        m_clock.advanceNs(m_writer->nsUntilWrite() - earlyNs);
        m_writer->writeDue();
        QVERIFY(m_link.written.isEmpty());
        QCOMPARE(m_writer->pendingSecond(), at(QTime(14, 5, 9)));
        m_clock.advanceNs(earlyNs);
        m_writer->writeDue();
        QCOMPARE(m_link.written, QList<QByteArray>{bytes({0xFE, 0x10, 0x09, 0x05, 0x0E, 0xFF})});
        QVERIFY(!m_writer->pendingSecond().isValid());
    }

    void theSystemsWakeUpSetsTheLead_data()
    {
        QTest::addColumn<qint64>("awakeMs");
        QTest::addColumn<QTime>("second");
        // 14:05:08.980: the write for 14:05:09 starts 13.75 ms later.
        QTest::newRow("woken within a millisecond") << 1LL << QTime(14, 5, 9);
        QTest::newRow("woken up to 20 ms late: the next second") << 20LL << QTime(14, 5, 10);
    }

    // A frame is never planned closer than the system's awake wait: a writer that wakes
    // after its moment would wait for the next second.
    void theSystemsWakeUpSetsTheLead()
    {
        QFETCH(qint64, awakeMs);
        QFETCH(QTime, second);
        FakeScheduling scheduling;
        scheduling.awake = awakeMs * 1'000'000;
        m_writer->setScheduling(&scheduling);
        m_clock.set(QTime(14, 5, 8, 980));
        m_writer->request();
        QCOMPARE(m_writer->pendingSecond(), at(second));
    }

    // The moment is planned from readings of the two clocks that belong together.
    void interruptedReadingKeepsTheMoment()
    {
        InterruptedClock clock;
        FrameWriter writer(m_link, clock, FrameWriter::Threading::Caller);
        writer.setFrameLineTimeNs(kFrameLineTimeNs);
        writer.request();
        // 14:05:08.503 when planned: 09.000 less the line time is 490.75 ms away.
        QCOMPARE(writer.nsUntilWrite(), 490'750'000);
    }

    void lateWakeWaitsForTheNextSecond()
    {
        m_writer->request();
        m_clock.advanceNs(m_writer->nsUntilWrite() + FrameWriter::kLateLimitNs + 1);
        m_writer->writeDue();
        QVERIFY(m_link.written.isEmpty());
        QCOMPARE(m_writer->pendingSecond(), at(QTime(14, 5, 10)));
        reachSlot(*m_writer, m_clock);
        QCOMPARE(m_link.written, QList<QByteArray>{bytes({0xFE, 0x10, 0x0A, 0x05, 0x0E, 0xFF})});
    }

    void requestsWhileOneWaitsShareItsSlot()
    {
        m_writer->request();
        m_clock.advanceMs(200);
        m_writer->request();
        reachSlot(*m_writer, m_clock);
        const QByteArray frame = bytes({0xFE, 0x10, 0x09, 0x05, 0x0E, 0xFF});
        QCOMPARE(m_link.written, QList<QByteArray>{frame + frame});
    }

    void clockSetWhileFrameWaits_data()
    {
        QTest::addColumn<int>("setMs"); ///< how far the PC clock is set while the frame waits
        QTest::addColumn<bool>("replanned");
        QTest::newRow("slewed by a millisecond") << 1 << false;
        QTest::newRow("set forward 100 ms") << 100 << true;
        QTest::newRow("set back five seconds") << -5000 << true;
        // The monotonic clock stands still while the computer sleeps.
        QTest::newRow("resume after an hour asleep") << 3600000 << true;
    }

    // A frame planned before the PC clock was set would carry the old second; its slot is
    // planned again from the new time.
    void clockSetWhileFrameWaits()
    {
        QFETCH(int, setMs);
        QFETCH(bool, replanned);
        m_writer->request();
        const QDateTime planned = m_writer->pendingSecond();

        m_clock.wall = m_clock.wall.addMSecs(setMs);
        m_clock.advanceNs(m_writer->nsUntilWrite());
        m_writer->writeDue();
        if (!replanned) {
            QCOMPARE(m_link.written, QList<QByteArray>{TimeFrame(planned.time())});
            return;
        }
        QCOMPARE(m_link.written.size(), 0);
        const QDateTime carried = m_writer->pendingSecond();
        // The next slot of the new time: the next second, or the one after when too close.
        const qint64 aheadMs = m_clock.wall.msecsTo(carried);
        QVERIFY2(aheadMs > 0 && aheadMs <= 1100, qPrintable(QString::number(aheadMs)));
        reachSlot(*m_writer, m_clock);
        QCOMPARE(m_link.written, QList<QByteArray>{TimeFrame(carried.time())});
    }

    void outcomeIsReported_data()
    {
        QTest::addColumn<QString>("writeError");
        QTest::newRow("written") << "";
        QTest::newRow("failed") << "Could not write to /dev/x: Input/output error";
    }

    void outcomeIsReported()
    {
        QFETCH(QString, writeError);
        m_link.writeError = writeError;
        QSignalSpy written(m_writer.get(), &FrameWriter::written);
        QSignalSpy failed(m_writer.get(), &FrameWriter::failed);
        m_writer->request();
        reachSlot(*m_writer, m_clock);
        QCOMPARE(written.size(), writeError.isEmpty() ? 1 : 0);
        QCOMPARE(failed.size(), writeError.isEmpty() ? 0 : 1);
        if (writeError.isEmpty())
            QCOMPARE(written.first().first().toDateTime(), at(QTime(14, 5, 9)));
        else
            QCOMPARE(failed.first().first().toString(), writeError);
        QVERIFY(!m_writer->pendingSecond().isValid());
    }

    void cancelDropsTheWaitingFrames()
    {
        m_writer->request();
        m_writer->cancel();
        QVERIFY(!m_writer->pendingSecond().isValid());
        m_clock.advanceMs(2000);
        m_writer->writeDue();
        QVERIFY(m_link.written.isEmpty());
    }

    // The writer's own thread, on the real clocks: the frame arrives, on its second.
    void ownThreadWritesOnTheSecond()
    {
        SystemClock clock;
        FakeLink link;
        link.portOpen = true;
        FrameWriter writer(link, clock, FrameWriter::Threading::OwnThread);
        writer.setFrameLineTimeNs(kFrameLineTimeNs);
        QSignalSpy written(&writer, &FrameWriter::written);
        writer.request();
        QVERIFY(written.wait(3000));
        const QDateTime second = written.first().first().toDateTime();
        QCOMPARE(second.time().msec(), 0);
        QCOMPARE(link.written, QList<QByteArray>{TimeFrame(second.time())});
        // Written no earlier than the line time before its second.
        QVERIFY(clock.wallNs() >= second.toMSecsSinceEpoch() * 1'000'000 - kFrameLineTimeNs);
    }

    // One thread writes every display's frame at the moment, and a port that takes
    // nothing holds up none of the others: its write ends on a thread of its own.
    void aSharedThreadWaitsForNoPort()
    {
        SystemClock clock;
        FrameWriterThread thread(clock);
        StuckLink stuck;
        FakeLink links[2];
        std::vector<std::unique_ptr<FrameWriter>> writers;
        for (FakeLink *link : {static_cast<FakeLink *>(&stuck), &links[0], &links[1]}) {
            writers.push_back(std::make_unique<FrameWriter>(*link, clock, thread));
            writers.back()->setFrameLineTimeNs(kFrameLineTimeNs);
        }
        QSignalSpy failed(writers[0].get(), &FrameWriter::failed);
        QSignalSpy first(writers[1].get(), &FrameWriter::written);
        QSignalSpy second(writers[2].get(), &FrameWriter::written);
        for (const auto &writer : writers)
            writer->request();
        QVERIFY(first.wait(3000));
        QTRY_COMPARE(second.count(), 1);
        QCOMPARE(second.first().first(), first.first().first()); // the same second
        QCOMPARE(failed.count(), 0);
        stuck.held.set_value();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("stuck"));
    }

    // The writer's thread asks for its scheduling itself, once, and the outcome is logged
    // once: a user who sees a late display can tell why. A frame holds the system's
    // precise timers from its request until it is written, dropped or the writer ends:
    // held longer, they cost the whole machine power.
    void theWritersThreadAsksForItsScheduling_data()
    {
        QTest::addColumn<bool>("realTime");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("end"); ///< of the frame
        QTest::newRow("granted, written")
            << true << "frames are written at real-time priority (SCHED_FIFO 20)"
            << "written";
        const QString refused =
            "frames are written at normal priority, so a busy PC may make them late: not permitted";
        QTest::newRow("refused, dropped") << false << refused << "dropped";
        QTest::newRow("refused, writer ended") << false << refused << "writer ended";
    }

    void theWritersThreadAsksForItsScheduling()
    {
        QFETCH(bool, realTime);
        QFETCH(QString, logged);
        QFETCH(QString, end);
        SystemClock clock;
        FakeLink link;
        link.portOpen = true;
        FakeScheduling scheduling;
        scheduling.answer = {realTime, realTime ? "SCHED_FIFO 20" : "not permitted"};
        // As the service logs: its information too.
        QLoggingCategory::setFilterRules(QStringLiteral("orvantide.sync.info=true"));
        const auto defaultRules = qScopeGuard([] { QLoggingCategory::setFilterRules({}); });
        auto writer = std::make_unique<FrameWriter>(link, clock, FrameWriter::Threading::OwnThread);
        QSignalSpy told(writer.get(), &FrameWriter::schedulingSet);
        QSignalSpy written(writer.get(), &FrameWriter::written);
        QTest::ignoreMessage(realTime ? QtInfoMsg : QtWarningMsg, qPrintable(logged));
        writer->setScheduling(&scheduling);
        writer->request();
        QTRY_COMPARE(told.count(), 1);
        QCOMPARE(told.first().first().toBool(), realTime);
        QCOMPARE(scheduling.asked, 1);
        QVERIFY(scheduling.askedBy != std::this_thread::get_id());

        QTRY_COMPARE(scheduling.timersHeld.load(), 1);
        if (end == "written")
            QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 3000);
        else if (end == "dropped")
            writer->cancel();
        else
            writer.reset();
        QTRY_COMPARE(scheduling.timersLetGo.load(), 1);
        QCOMPARE(scheduling.timersHeld.load(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_FrameWriter)
#include "tst_framewriter.moc"
