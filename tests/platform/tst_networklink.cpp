// Network ports against the real device server: ser2net on the loopback, bridging a TCP
// port to a pseudo-terminal the test reads, as RFC 2217 and as a raw TCP stream; against
// servers that never answer or never stop sending; and against a name server that never
// answers, which the test is on a network of its own (own-network.sh).
#include "core/fakes.h"
#include "platform/SerialPorts.h"
#include "platform/pty.h"
#include "platform/ser2net.h"

#include "core/PortKeeper.h"
#include "core/Synchroniser.h"
#include "core/TimeFrame.h"
#include "platform/DeviceOrNetworkLink.h"

#include <QTcpServer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

/// The name server of the test's own network: it says that "missing.test" does not exist
/// and never answers any other question.
struct NameServer
{
    QUdpSocket socket;
    int questions = 0;

    bool listen()
    {
        if (!socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 53))
            return false;
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] {
            while (socket.hasPendingDatagrams()) {
                QNetworkDatagram question = socket.receiveDatagram();
                ++questions;
                QByteArray answer = question.data();
                if (answer.size() < 12 || !answer.contains("\x07missing\x04test"))
                    continue;
                answer[2] = char(answer[2] | 0x80); // an answer
                answer[3] = char(0x83);              // recursion available; no such name
                socket.writeDatagram(question.makeReply(answer));
            }
        });
        return true;
    }
};

/// A server on the loopback that, once a client connects, answers RFC 2217 as ser2net does
/// (or not at all) and then sends `flood` over and over until the client leaves.
struct FloodingServer
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 port = 0;
    std::thread thread;

    FloodingServer(bool negotiate, const QByteArray &flood)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            qFatal("no listening socket: %s", std::strerror(errno));
        port = ntohs(address.sin_port);
        thread = std::thread([fd = listener, negotiate, flood] {
            const int client = ::accept(fd, nullptr, nullptr);
            if (client < 0)
                return;
            const auto send = [client](const QByteArray &bytes) {
                return ::send(client, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) > 0;
            };
            if (negotiate) {
                send(QByteArray::fromHex("fffb03fffd03fffd00fffb00fffd2c"));
                QByteArray asked;
                char buffer[256];
                for (ssize_t n; asked.count("\xff\xf0") < 5 &&
                                (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
                    asked.append(buffer, int(n));
                send(QByteArray::fromHex("fffa2c6500002580fff0fffa2c6608fff0fffa2c6701fff0"
                                         "fffa2c6801fff0fffa2c6901fff0"));
            }
            while (send(flood)) {
            }
            ::close(client);
        });
    }
    ~FloodingServer()
    {
        ::shutdown(listener, SHUT_RDWR); // an accept() still waiting
        thread.join();
        ::close(listener);
    }
};

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
    void initTestCase()
    {
        PortNames::setNaming(&systemPortNaming());
        if (!m_nameServer.listen()) {
            if (qEnvironmentVariableIsSet("ORVANTIDE_OWN_RESOLVER"))
                QFAIL("no name server on 127.0.0.1:53 of the test's own network");
            QSKIP("runs on a network of its own: tests/platform/own-network.sh");
        }
    }

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
        QTest::addColumn<QString>("first"); ///< what start-up says, if it cannot be later
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing listening")
            << "127.0.0.1" << false << "" << "Connection refused";
        QTest::newRow("name does not resolve")
            << "missing.test" << false << "looking up the name missing.test" << "does not resolve";
        QTest::newRow("name server never answers")
            << "display.test" << false << "looking up the name display.test"
            << "the name display.test was not resolved within 3000 ms";
        QTest::newRow("accepts, never answers")
            << "127.0.0.1" << true << "" << "did not agree the line settings within";
    }

    void serversThatDoNotAnswer()
    {
        QFETCH(QString, host);
        QFETCH(bool, listening);
        QFETCH(QString, first);
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
        QVERIFY2(view.reason().contains(first), qPrintable(view.reason()));
        QTRY_VERIFY2_WITH_TIMEOUT(view.reason().contains(reason), qPrintable(view.reason()),
                                  2 * NetworkSerialLink::kConnectTimeoutMs);
        if (!host.startsWith(QLatin1String("127.")))
            QVERIFY(m_nameServer.questions > 0);
        // While the next attempt goes on, the reason stays.
        QVERIFY(!sync.port().open());
        QVERIFY2(sync.port().reason().contains(reason), qPrintable(sync.port().reason()));
    }

    // Whatever a server sends, the attempt ends within its time, and a connection that
    // floods the program or breaks Telnet's rules is dropped, the program's thread
    // answering all along.
    void serversThatNeverStop_data()
    {
        QTest::addColumn<bool>("negotiate");
        QTest::addColumn<QByteArray>("flood");
        QTest::addColumn<QString>("reason");
        const QByteArray doFlood = QByteArray::fromHex("fffd18").repeated(1000);
        const QByteArray endless(1 << 16, 'a'); // faster than the program reads
        QTest::newRow("bytes without end while agreeing")
            << false << endless << "more than 65536 bytes without agreeing";
        QTest::newRow("a subnegotiation without end while agreeing")
            << false << QByteArray::fromHex("fffa2c") + endless << "longer than 1024";
        QTest::newRow("DO at full rate once agreed")
            << true << doFlood << "more than 6016 bytes in a second";
        QTest::newRow("a subnegotiation without end once agreed")
            << true << QByteArray::fromHex("fffa2c") + endless << "longer than 1024";
    }

    void serversThatNeverStop()
    {
        QFETCH(bool, negotiate);
        QFETCH(QByteArray, flood);
        QFETCH(QString, reason);
        FloodingServer server(negotiate, flood);
        NetworkSerialLink link;
        QString hungUp;
        link.setHangUpHandler([&](const QString &why) { hungUp = why; });
        QString error;
        const QString name = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port);
        const LineSettings line; // 9600 baud: 960 bytes a second
        // Tried until the attempt has its outcome; each open() after it is a new attempt.
        bool opened = false;
        QTRY_VERIFY_WITH_TIMEOUT(error.contains(reason) ||
                                     (opened = opened || link.open(name, line, &error)),
                                 2 * NetworkSerialLink::kConnectTimeoutMs);
        QVERIFY2(opened == negotiate, qPrintable(error));
        if (!opened)
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(hungUp.contains(reason), qPrintable(hungUp), 2000);
        link.close();
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
        bool opened = false;
        QTRY_VERIFY(opened = opened || link.open(name, LineSettings(), &error));
        QVERIFY(!link.write(QByteArray(64 << 20, '\x10'), &error));
        QVERIFY2(error.contains(QLatin1String("took no bytes")), qPrintable(error));
    }

private:
    NameServer m_nameServer;
};

QTEST_GUILESS_MAIN(tst_NetworkLink)
#include "tst_networklink.moc"
