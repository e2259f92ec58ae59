// Network ports against the real device server: ser2net on the loopback, bridging a TCP
// port to a pseudo-terminal the test reads, as RFC 2217 and as a raw TCP stream.
#include "core/fakes.h"
#include "platform/SerialPorts.h"
#include "platform/pty.h"
#include "platform/ser2net.h"

#include "core/Synchroniser.h"
#include "core/TimeFrame.h"
#include "platform/DeviceOrNetworkLink.h"

#include <QTcpServer>
#include <QtTest>

namespace {

Settings settingsFor(const QString &commPort, const QString &line)
{
    Settings settings;
    settings.commPort = commPort;
    settings.lineSettings = line;
    settings.interval = 60;
    return settings;
}

speed_t speedOf(const Pty &pty)
{
    termios tio{};
    ::tcgetattr(pty.master, &tio);
    return ::cfgetospeed(&tio);
}

} // namespace

class tst_NetworkLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

    // Frames arrive byte for byte through the server; RFC 2217 sets the server's line to
    // the settings' speed, a raw port keeps its own; the server's end is a hang-up
    // reported at once, and its return is found within 1.5 s, with a frame.
    void framesThroughTheServer_data()
    {
        QTest::addColumn<bool>("rfc2217");
        QTest::addColumn<int>("speed"); ///< the speed the server's port ends up with
        QTest::newRow("rfc2217://") << true << int(B4800);
        QTest::newRow("socket://") << false << int(B9600);
    }

    void framesThroughTheServer()
    {
        QFETCH(bool, rfc2217);
        QFETCH(int, speed);
        Pty pty;
        Ser2net server;
        QVERIFY(server.start(pty.path, rfc2217));
        const QString name =
            QStringLiteral("%1://127.0.0.1:%2").arg(rfc2217 ? "rfc2217" : "socket").arg(server.port);
        DeviceOrNetworkLink link;
        FakeClock clock;
        RecordingView view;
        Synchroniser sync(link, clock, view, FrameWriter::Threading::Caller);
        QCOMPARE(sync.start(settingsFor(name, QStringLiteral("4800,N,8,1"))),
                 Synchroniser::StartUpResult::Started);
        QDateTime carried = sync.writer().pendingSecond();
        reachSlot(sync.writer(), clock);
        // A frame holds 0xFF, which Telnet doubles on the way and the server undoes.
        QCOMPARE(pty.read(6), TimeFrame(carried.time()));
        QCOMPARE(int(speedOf(pty)), speed);

        server.kill();
        QTRY_COMPARE_WITH_TIMEOUT(view.status, RecordingView::Status::PortNotOpen, 1000);
        QVERIFY2(view.reason().contains(QLatin1String("hung up")), qPrintable(view.reason()));

        QVERIFY(server.start(pty.path, rfc2217));
        QTRY_VERIFY_WITH_TIMEOUT(link.isOpen(), 1500);
        carried = sync.writer().pendingSecond();
        reachSlot(sync.writer(), clock);
        QCOMPARE(pty.read(6), TimeFrame(carried.time()));
        QCOMPARE(view.status, RecordingView::Status::Synced);
    }

    // A server that is not there, a name that does not resolve and a server that takes
    // the connection and then says nothing give "Port Not Open" with the reason; the
    // start-up never waits for them.
    void serversThatDoNotAnswer_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing listening") << "127.0.0.1" << false << "Connection refused";
        QTest::newRow("name does not resolve") << "display.invalid" << false << "does not resolve";
        QTest::newRow("accepts, never answers")
            << "127.0.0.1" << true << "did not agree the line settings";
    }

    void serversThatDoNotAnswer()
    {
        QFETCH(QString, host);
        QFETCH(bool, listening);
        QFETCH(QString, reason);
        QTcpServer silent; // takes connections and never reads them
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const quint16 port = silent.serverPort();
        if (!listening)
            silent.close();
        DeviceOrNetworkLink link;
        FakeClock clock;
        RecordingView view;
        Synchroniser sync(link, clock, view, FrameWriter::Threading::Caller);
        QElapsedTimer startUp;
        startUp.start();
        sync.start(settingsFor(QStringLiteral("rfc2217://%1:%2").arg(host).arg(port),
                               QStringLiteral("9600,N,8,1")));
        QVERIFY2(startUp.elapsed() < 2000, "the start-up waited for the server");
        QCOMPARE(view.status, RecordingView::Status::PortNotOpen);
        QTRY_VERIFY2_WITH_TIMEOUT(view.reason().contains(reason), qPrintable(view.reason()),
                                  3 * NetworkSerialLink::kConnectTimeoutMs);
    }

    // A raw port whose server stops reading fails the write within its bound: the frame
    // writer's thread is never held.
    void aServerThatStopsReadingFailsTheWrite()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        NetworkSerialLink link;
        QString error;
        const QString name = QStringLiteral("socket://127.0.0.1:%1").arg(silent.serverPort());
        QTRY_VERIFY(link.open(name, LineSettings(), &error));
        QVERIFY(!link.write(QByteArray(64 << 20, '\x10'), &error));
        QVERIFY2(error.contains(QLatin1String("took no bytes")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(tst_NetworkLink)
#include "tst_networklink.moc"
