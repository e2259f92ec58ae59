#include "FrameDecoder.h"

#include <QtTest>

class tst_FrameDecoder : public QObject
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
};

QTEST_GUILESS_MAIN(tst_FrameDecoder)
#include "tst_frame_decoder.moc"
