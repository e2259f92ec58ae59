// The Telnet side of an RFC 2217 connection, byte by byte: what the client answers to what
// a server sends, and when the server is ready or has failed. The bytes are written out
// from RFC 854, 856 and 2217, not from the code.
#include "platform/TelnetComPort.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text)); // spaces are skipped
}

LineSettings line(const QString &text)
{
    LineSettings settings;
    LineSettings::parse(text, &settings, nullptr);
    return settings;
}

// ser2net's first words: WILL and DO SUPPRESS-GO-AHEAD, WILL ECHO, DONT LINEMODE, DO and
// WILL BINARY, DO COM-PORT-OPTION.
const char *const kServerHello = "fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c";
// The answers to the line settings 9600,N,8,1 and no flow control.
const char *const kLineAnswered =
    "fffa2c65 00002580 fff0 fffa2c66 08 fff0 fffa2c67 01 fff0 fffa2c68 01 fff0 fffa2c69 01 fff0";

} // namespace

class tst_TelnetComPort : public QObject
{
    Q_OBJECT

private slots:
    void greetingAndEscape()
    {
        // WILL COM-PORT-OPTION, WILL BINARY, DO BINARY.
        QCOMPARE(TelnetComPort::greeting(), hex("fffb2c fffb00 fffd00"));
        QCOMPARE(TelnetComPort::escape(hex("0d 00 ff 7f ff")), hex("0d 00 ffff 7f ffff"));
    }

    // What the client answers, and where the negotiation stands, after the server's bytes.
    void answers_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("client");
        QTest::addColumn<QString>("failure"); ///< a part of the reason; empty: not failed

        QTest::newRow("ser2net's hello: SGA agreed once each way, ECHO refused, the line set")
            << "9600,N,8,1" << hex(kServerHello)
            << hex("fffd03 fffb03 fffe01 "
                   "fffa2c01 00002580 fff0 fffa2c02 08 fff0 fffa2c03 01 fff0 "
                   "fffa2c04 01 fff0 fffa2c05 01 fff0")
            << "";
        QTest::newRow("even parity, 7 data bits, 2 stop bits")
            << "4800,E,7,2" << hex("fffd2c")
            << hex("fffa2c01 000012c0 fff0 fffa2c02 07 fff0 fffa2c03 03 fff0 "
                   "fffa2c04 02 fff0 fffa2c05 01 fff0")
            << "";
        QTest::newRow("odd parity, 1.5 stop bits")
            << "1200,O,5,1.5" << hex("fffd2c")
            << hex("fffa2c01 000004b0 fff0 fffa2c02 05 fff0 fffa2c03 02 fff0 "
                   "fffa2c04 03 fff0 fffa2c05 01 fff0")
            << "";
        QTest::newRow("mark parity, a speed holding 0xFF doubled")
            << "65535,M,8,1" << hex("fffd2c")
            << hex("fffa2c01 0000ffffffff fff0 fffa2c02 08 fff0 fffa2c03 04 fff0 "
                   "fffa2c04 01 fff0 fffa2c05 01 fff0")
            << "";
        QTest::newRow("space parity, asked for once")
            << "300,S,8,1" << hex("fffd2c fffd2c")
            << hex("fffa2c01 0000012c fff0 fffa2c02 08 fff0 fffa2c03 05 fff0 "
                   "fffa2c04 01 fff0 fffa2c05 01 fff0")
            << "";
        QTest::newRow("unknown options refused each time, their refusals and SGA's again not")
            << "9600,N,8,1"
            << hex("fffd18 fffb05 fffe18 fffc05 fffb2c fffd18 fffd03 fffd03 fffb03 fffb03")
            << hex("fffc18 fffe05 fffe2c fffc18 fffb03 fffd03") << "";
        QTest::newRow("a doubled 0xFF in the data is no command") << "9600,N,8,1"
                                                                  << hex("41 ffff fd18 42")
                                                                  << QByteArray() << "";
        QTest::newRow("the server will not send binary: nothing to answer")
            << "9600,N,8,1" << hex("fffc00") << QByteArray() << "";
        QTest::newRow("DONT COM-PORT-OPTION") << "9600,N,8,1" << hex("fffe2c") << QByteArray()
                                              << "a raw TCP port is named socket://";
        QTest::newRow("DONT BINARY") << "9600,N,8,1" << hex("fffe00") << QByteArray()
                                     << "does not take binary data";
        QTest::newRow("a subnegotiation without end")
            << "9600,N,8,1" << hex("fffa2c") + QByteArray(TelnetComPort::kMaxSubnegotiation, 'a')
            << QByteArray() << "longer than 1024 bytes";
    }

    void answers()
    {
        QFETCH(QString, settings);
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, client);
        QFETCH(QString, failure);
        TelnetComPort telnet(line(settings));
        QCOMPARE(telnet.feed(server).toHex(' '), client.toHex(' '));
        QCOMPARE(telnet.failure().isEmpty(), failure.isEmpty());
        QVERIFY2(telnet.failure().contains(failure), qPrintable(telnet.failure()));
        QCOMPARE(telnet.state(), failure.isEmpty() ? TelnetComPort::State::Negotiating
                                                   : TelnetComPort::State::Failed);
    }

    // The server is ready once it has agreed binary and the option and answered all five
    // settings; what it set otherwise is told.
    void ready_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QStringList>("differences");
        const QByteArray hello = hex(kServerHello);
        const QByteArray answered = hex(kLineAnswered);
        QTest::newRow("the server keeps RTS/CTS and its own speed and parity")
            << hello +
                   hex("fffa2c65 000012c0 fff0 fffa2c66 08 fff0 fffa2c67 03 fff0 "
                       "fffa2c68 01 fff0 fffa2c69 03 fff0")
            << true
            << QStringList{"speed 4800, not 9600", "parity E, not N",
                           "flow control RTS/CTS, not none"};
        QTest::newRow("binary never agreed") << hex("fffd2c") + answered << false
                                             << QStringList();
        QTest::newRow("four of five answered") << hello + answered.left(answered.size() - 7)
                                               << false << QStringList();
    }

    void ready()
    {
        QFETCH(QByteArray, server);
        QFETCH(bool, ready);
        QFETCH(QStringList, differences);
        TelnetComPort telnet(line(QStringLiteral("9600,N,8,1")));
        telnet.feed(server);
        QCOMPARE(telnet.state(),
                 ready ? TelnetComPort::State::Ready : TelnetComPort::State::Negotiating);
        QCOMPARE(telnet.differences(), differences);
    }

    // A whole conversation, the line's and the modem's news and another option's
    // subnegotiation between the answers, leaves the server ready with the line as asked;
    // cut anywhere across two reads, it is read as in one.
    void cutAcrossReads()
    {
        const QByteArray server = hex(kServerHello) + hex("fffa2c6b 00 fff0") +
                                  hex(kLineAnswered) + hex("fffa2c6a 60 fff0 fffa1869 03fff0 fffd18");
        TelnetComPort whole(line(QStringLiteral("9600,N,8,1")));
        const QByteArray answer = whole.feed(server);
        QCOMPARE(whole.state(), TelnetComPort::State::Ready);
        QCOMPARE(whole.differences(), QStringList());
        for (int cut = 1; cut < server.size(); ++cut) {
            TelnetComPort telnet(line(QStringLiteral("9600,N,8,1")));
            QByteArray got = telnet.feed(server.left(cut));
            got += telnet.feed(server.mid(cut));
            QCOMPARE(got, answer);
            QCOMPARE(telnet.state(), TelnetComPort::State::Ready);
        }
    }
};

QTEST_GUILESS_MAIN(tst_TelnetComPort)
#include "tst_telnetcomport.moc"
