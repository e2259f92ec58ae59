// The windowed program as the face of a service: what the service's view is told reaches
// the face's view as it was told, a face that comes later hears the state whole, and only
// a user the service lets change it asks for frames and reloads.

#include "core/fakes.h"

#include "core/Reason.h"
#include "core/ServiceFace.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

/// A view that writes down each call, to compare two views' histories.
class LogView : public MainView
{
public:
    QStringList calls;

    void showClock(const QTime &) override {}
    void showSynced(const QDateTime &second) override
    {
        calls << QStringLiteral("synced ") + second.toString(Qt::ISODateWithMs);
    }
    void showPortNotOpen(const QString &reason) override { calls << "notopen " + reason; }
    void showPortLent() override { calls << QStringLiteral("lent"); }
    void startUpSynced() override { calls << QStringLiteral("started"); }
    void showPcClockState(const QDateTime &since) override
    {
        calls << QStringLiteral("pcclock ") + since.toString(Qt::ISODateWithMs);
    }
    void showWriterScheduling(bool realTime) override
    {
        calls << QStringLiteral("realtime %1").arg(realTime);
    }
};

const QDateTime kSecond(QDate(2026, 12, 7), QTime(10, 3, 7));

} // namespace

class tst_ServiceFace : public QObject
{
    Q_OBJECT

private slots:
    // The window's line to the service: the instance's answer is not the service's, a
    // lost connection is told once until one is answered again, and tried again.
    void aLostServiceIsToldOnceAndTriedAgain()
    {
        struct Channel : ServiceChannel
        {
            int opened = 0;
            void open() override { ++opened; }
            void send(const QByteArray &) override {}
            void close() override { restart(); }
            using ServiceChannel::lose;
            using ServiceChannel::takeLine;
        } channel;
        QSignalSpy lost(&channel, &ServiceChannel::lost);
        QSignalSpy received(&channel, &ServiceChannel::received);
        channel.lose();
        channel.lose();
        QCOMPARE(lost.count(), 1);
        auto *retry = channel.findChild<QTimer *>();
        QVERIFY(retry && retry->isActive());
        QCOMPARE(retry->interval(), 2000);
        retry->start(0);
        QTRY_COMPARE(channel.opened, 1);
        channel.takeLine("headless 42");
        channel.takeLine("may 1");
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toByteArray(), QByteArray("may 1"));
        channel.lose();
        QCOMPARE(lost.count(), 2);
    }

    // Each event, with texts that need care on one line (a line end, a percent sign, a
    // letter outside ASCII, nothing at all), reaches the face as the service's view had it;
    // a face that connects later hears the last state of each kind.
    void theFaceShowsWhatTheServiceIsShown()
    {
        LogView service;
        FakeChannel channel;
        ViewRecorder recorder(service, [&](const QByteArray &line) { channel.hear(line); });
        FakeClock clock;
        LogView face;
        ServiceFace serviceFace(channel, clock, face);
        channel.hear("may 1\n");

        recorder.startUpSynced();
        recorder.showSynced(kSecond);
        recorder.showPortNotOpen(QStringLiteral("the device went away.\n100% gone: Gerät"));
        recorder.showPortNotOpen(QString());
        recorder.showPortLent();
        recorder.showPcClockState(kSecond.addDays(-1));
        recorder.showPcClockState(QDateTime());
        recorder.showWriterScheduling(false);
        recorder.showPortNotOpen(QStringLiteral("no answer"));
        QCOMPARE(face.calls, service.calls);

        LogView later;
        FakeChannel laterChannel;
        ServiceFace laterFace(laterChannel, clock, later);
        laterChannel.hear("may 1\n" + recorder.state());
        QCOMPARE(later.calls,
                 QStringList({QStringLiteral("started"), QStringLiteral("notopen no answer"),
                              QStringLiteral("pcclock "), QStringLiteral("realtime 0")}));
    }

    // A reason the service made reaches the window with how it was made, so that the
    // window, which never made it, says it in its user's language.
    void aReasonIsToldWithItsMaking()
    {
        LogView service;
        QByteArray lines;
        ViewRecorder recorder(service, [&](const QByteArray &line) { lines += line; });
        const QString reason = Reason::text("hung up: %1", QStringLiteral("/dev/x"));
        recorder.showPortNotOpen(reason);
        for (int i = 0; i < Reason::kRemembered; ++i)
            Reason::text("another %1", i); // the window's process knows none of them
        LogView window;
        for (const QByteArray &line : lines.split('\n'))
            ViewLines::replay(line, window);
        QCOMPARE(window.calls, QStringList{"notopen " + reason});
        QCOMPARE(
            Reason::translated(
                reason, [](const char *english) { return QString::fromUtf8(english).toUpper(); }),
            QStringLiteral("HUNG UP: /dev/x"));
    }

    void linesThatAreNoneOfTheViews_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("no time") << QByteArray("synced");
        QTest::newRow("no number") << QByteArray("synced 12:00");
        QTest::newRow("a word after started") << QByteArray("started now");
        QTest::newRow("a word after lent") << QByteArray("lent x");
        QTest::newRow("no time of the PC clock") << QByteArray("pcclock");
        QTest::newRow("realtime neither 1 nor 0") << QByteArray("realtime 2");
        QTest::newRow("an unknown word") << QByteArray("reboot 1");
    }

    // A line the face does not know is passed over: nothing is shown of it.
    void linesThatAreNoneOfTheViews()
    {
        QFETCH(QByteArray, line);
        LogView view;
        QVERIFY(!ViewLines::replay(line, view));
        QCOMPARE(view.calls, QStringList());
    }

    void whoMayAsk_data()
    {
        QTest::addColumn<QByteArray>("greeting"); ///< empty: the service has not answered
        QTest::addColumn<bool>("lost");           ///< the service went away after it
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QString>("refusal");
        const QByteArrayList both{"sync", "reload"};
        QTest::newRow("a user who may change it") << QByteArray("may 1") << false << both << "";
        QTest::newRow("a user who may not")
            << QByteArray("may 0 only%20root") << false << QByteArrayList() << "only root";
        QTest::newRow("a refusal without its reason")
            << QByteArray("may 0") << false << QByteArrayList()
            << "You may not change what the service does.";
        QTest::newRow("before the service answered")
            << QByteArray() << false << QByteArrayList() << "";
        QTest::newRow("after the service went away")
            << QByteArray("may 1") << true << QByteArrayList() << "";
    }

    // SYNC NOW and the dialog's end become "sync" and "reload" for a user the service
    // lets change it; another is told why, once for each press, and asks for nothing.
    void whoMayAsk()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, lost);
        QFETCH(QByteArrayList, sent);
        QFETCH(QString, refusal);
        FakeChannel channel;
        FakeClock clock;
        RecordingView view;
        ServiceFace face(channel, clock, view);
        face.begin(Settings());
        QCOMPARE(channel.opened, 1);
        QSignalSpy refused(&face, &ServiceFace::refused);
        if (!greeting.isEmpty())
            channel.hear(greeting + '\n');
        if (lost)
            emit channel.lost();
        face.syncNow();
        face.apply(Settings());
        // a service that starts again says "started" again; the window gave way once
        channel.hear("started\nstarted\n");
        QCOMPARE(view.startUps, 1);
        QCOMPARE(channel.sent, sent);
        QCOMPARE(refused.count(), refusal.isEmpty() ? 0 : 1);
        QCOMPARE(face.refusal(), refusal);
        QCOMPARE(view.status == RecordingView::Status::PortNotOpen, lost);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceFace)
#include "tst_serviceface.moc"
