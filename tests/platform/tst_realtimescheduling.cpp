// Real-time priority for the frame writer's thread: granted by the kernel, refused and
// then granted or refused by a broker; and on the real kernel, as root and as a user with
// and without RLIMIT_RTPRIO.

#include "platform/RealTimeScheduling.h"

#include "users.h"

#include <QtTest>

#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <thread>

namespace {

int g_setFifoResult = 0;

int fakeSetFifo(int)
{
    return g_setFifoResult;
}

qint64 fakeThreadId()
{
    return 4711;
}

/// What the system reports, whoever set it: RealtimeKit picks its own policy.
QString fakeScheduling()
{
    return QStringLiteral("SCHED_RR 20");
}

/// What a fresh thread gets, and whether the kernel then runs it SCHED_FIFO.
QByteArray outcomeOnAThread()
{
    QByteArray result;
    std::thread([&] {
        const ThreadScheduling::Outcome got = RealTimeScheduling().makeCurrentThreadRealTime();
        const bool fifo = (::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK) == SCHED_FIFO;
        result = (got.realTime ? "real-time" : "normal") + QByteArray(fifo ? ", fifo" : "");
    }).join();
    return result;
}

} // namespace

class tst_RealTimeScheduling : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<int>("kernel");
        QTest::addColumn<QString>("broker"); ///< empty: none; "yes": it grants; else its refusal
        QTest::addColumn<bool>("realTime");
        QTest::addColumn<QString>("detail");
        QTest::newRow("the kernel grants") << 0 << "" << true << "SCHED_RR 20";
        QTest::newRow("refused, no broker")
            << EPERM << "" << false
            << "the program may not set it itself (no CAP_SYS_NICE, and RLIMIT_RTPRIO below 20)";
        QTest::newRow("refused, RealtimeKit grants")
            << EPERM << "yes" << true << "SCHED_RR 20 through RealtimeKit";
        QTest::newRow("refused, RealtimeKit not there")
            << EPERM << "not there" << false
            << "the program may not set it itself (no CAP_SYS_NICE, and RLIMIT_RTPRIO below "
               "20); RealtimeKit: not there";
    }

    void outcomes()
    {
        QFETCH(int, kernel);
        QFETCH(QString, broker);
        QFETCH(bool, realTime);
        QFETCH(QString, detail);
        g_setFifoResult = kernel;
        qint64 askedFor = 0;
        RealTimeScheduling::Broker ask;
        if (!broker.isEmpty())
            ask = [&](qint64 thread, int priority, QString *why) {
                askedFor = thread;
                *why = broker;
                return broker == QLatin1String("yes") && priority == 20;
            };
        const ThreadScheduling::Outcome got =
            RealTimeScheduling(ask, {fakeSetFifo, fakeThreadId, fakeScheduling})
                .makeCurrentThreadRealTime();
        QCOMPARE(got.realTime, realTime);
        QCOMPARE(got.detail, detail);
        QCOMPARE(askedFor, broker.isEmpty() ? 0 : 4711);
    }

    // The real kernel: root may; a user may only within RLIMIT_RTPRIO.
    void theKernelDecides_data()
    {
        QTest::addColumn<bool>("asUser");
        QTest::addColumn<int>("rtprio");
        QTest::addColumn<QByteArray>("outcome");
        QTest::newRow("root") << false << 0 << QByteArray("real-time, fifo");
        QTest::newRow("a user") << true << 0 << QByteArray("normal");
        QTest::newRow("a user granted RLIMIT_RTPRIO 20")
            << true << 20 << QByteArray("real-time, fifo");
    }

    void theKernelDecides()
    {
        QFETCH(bool, asUser);
        QFETCH(int, rtprio);
        QFETCH(QByteArray, outcome);
        if (geteuid() != 0)
            QSKIP("needs root to be root and to become another user");
        if (!asUser) {
            QCOMPARE(outcomeOnAThread(), outcome);
            return;
        }
        // The limit the user's process starts with, as the service unit's LimitRTPRIO= or
        // limits.conf gives it.
        rlimit saved;
        QVERIFY(::getrlimit(RLIMIT_RTPRIO, &saved) == 0);
        const rlimit granted{rlim_t(rtprio), rlim_t(rtprio)};
        if (::setrlimit(RLIMIT_RTPRIO, &granted) != 0)
            QSKIP("raising RLIMIT_RTPRIO needs CAP_SYS_RESOURCE, which root lacks here");
        const QByteArray got =
            Users::run(Users::kUser, {}, [](const auto &) { return outcomeOnAThread(); });
        QVERIFY(::setrlimit(RLIMIT_RTPRIO, &saved) == 0);
        QCOMPARE(got, outcome);
    }
};

QTEST_GUILESS_MAIN(tst_RealTimeScheduling)
#include "tst_realtimescheduling.moc"
