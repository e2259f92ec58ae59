#include "FrameDecoder.h"
#include "WireTiming.h"

#include <QtTest>

class tst_DisplayEmulator : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>(
            "events"); ///< "HH:mm:ss" per frame, "?hex" per malformed stretch

        QTest::newRow("one frame")
            << QByteArray::fromHex("fe10090 50eff") << QStringList{"14:05:09"};
        QTest::newRow("two frames") << QByteArray::fromHex("fe1000000 0fffe103b3b17ff")
                                    << QStringList{"00:00:00", "23:59:59"};
        QTest::newRow("garbage before")
            << QByteArray::fromHex("4142fe1009050eff") << QStringList{"?41 42", "14:05:09"};
        QTest::newRow("start byte inside garbage")
            << QByteArray::fromHex("fefe1009050eff") << QStringList{"?FE", "14:05:09"};
        QTest::newRow("seconds out of range") << QByteArray::fromHex("fe103c050effFE1009050eff")
                                              << QStringList{"?FE 10 3C 05 0E FF", "14:05:09"};
        QTest::newRow("hour out of range")
            << QByteArray::fromHex("fe1000001800") << QStringList{"?FE 10 00 00 18 00"};
        QTest::newRow("wrong end byte, new frame starts there")
            << QByteArray::fromHex("fe10010203fe1009050eff")
            << QStringList{"?FE 10 01 02 03", "14:05:09"};
        QTest::newRow("truncated at the end")
            << QByteArray::fromHex("fe1009") << QStringList{"?FE 10 09"};
    }

    void decode()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, events);
        QStringList seen;
        FrameDecoder decoder;
        decoder.onFrame = [&](const QByteArray &, const QTime &t) {
            seen << t.toString("HH:mm:ss");
        };
        decoder.onGarbage = [&](const QByteArray &b) {
            seen << "?" + QString::fromLatin1(b.toHex(' ').toUpper());
        };
        // Byte by byte, as a slow line delivers them.
        for (char c : stream)
            decoder.feed(QByteArray(1, c));
        decoder.flush();
        QCOMPARE(seen, events);
    }

    // The benchmark's offsets hold a frame's time on the line from the tty's settings,
    // and the Windows tests read the settings the sender gave its port.
    void line_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("cflag"); ///< size, parity and stop bits
        QTest::addColumn<qint64>("us"); ///< six characters on the line
        QTest::addColumn<QString>("text");
        QTest::newRow("9600,N,8,1") << int(B9600) << int(CS8) << qint64(6250) << "9600,N,8,1";
        QTest::newRow("1200,E,7,2") << int(B1200) << int(CS7 | PARENB | CSTOPB) << qint64(55000)
                                    << "1200,E,7,2";
        QTest::newRow("300,O,5,1") << int(B300) << int(CS5 | PARENB | PARODD) << qint64(160000)
                                   << "300,O,5,1";
        QTest::newRow("115200,N,8,1") << int(B115200) << int(CS8) << qint64(520)
                                      << "115200,N,8,1";
        QTest::newRow("4800,M,8,1") << int(B4800) << int(CS8 | PARENB | PARODD | CMSPAR)
                                    << qint64(13750) << "4800,M,8,1";
        QTest::newRow("4800,S,6,1") << int(B4800) << int(CS6 | PARENB | CMSPAR) << qint64(11250)
                                    << "4800,S,6,1";
        QTest::newRow("speed 0 (hang up)") << int(B0) << int(CS8) << qint64(0) << "0,N,8,1";
    }

    void line()
    {
        QFETCH(int, speed);
        QFETCH(int, cflag);
        QFETCH(qint64, us);
        QFETCH(QString, text);
        termios tio{};
        tio.c_cflag = tcflag_t(cflag);
        QCOMPARE(::cfsetospeed(&tio, speed_t(speed)), 0);
        QCOMPARE(frameLineTimeUs(tio, 6), us);
        QCOMPARE(lineSettingsText(tio), text);
    }

    void offset_data()
    {
        QTest::addColumn<QTime>("carried");
        QTest::addColumn<QDateTime>("received"); ///< local time
        QTest::addColumn<qint64>("receivedExtraUs");
        QTest::addColumn<double>("offsetMs");
        const QDate day(2026, 12, 7);
        QTest::newRow("a quarter millisecond ahead")
            << QTime(12, 0) << QDateTime(day, QTime(11, 59, 59, 999)) << qint64(750) << 0.25;
        QTest::newRow("late") << QTime(12, 0) << QDateTime(day, QTime(12, 0, 0, 2)) << qint64(0)
                              << -2.0;
        QTest::newRow("an hour ahead")
            << QTime(13, 0) << QDateTime(day, QTime(12, 0)) << qint64(0) << 3600000.0;
        QTest::newRow("midnight, received the evening before")
            << QTime(0, 0) << QDateTime(day, QTime(23, 59, 59, 999)) << qint64(0) << 1.0;
        QTest::newRow("the last second, received after midnight")
            << QTime(23, 59, 59) << QDateTime(day.addDays(1), QTime(0, 0, 0, 500)) << qint64(0)
            << -1500.0;
    }

    void offset()
    {
        QFETCH(QTime, carried);
        QFETCH(QDateTime, received);
        QFETCH(qint64, receivedExtraUs);
        QFETCH(double, offsetMs);
        QCOMPARE(::offsetMs(carried, received.toMSecsSinceEpoch() * 1000 + receivedExtraUs),
                 offsetMs);
    }
};

QTEST_GUILESS_MAIN(tst_DisplayEmulator)
#include "tst_display_emulator.moc"
