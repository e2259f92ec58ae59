// The serial port on Windows, against a display on a real port: scripts/test-windows maps
// a COM port above 9 to a pseudo-terminal that the display emulator reads, and names the
// port and the emulator's record (one JSON object per frame) in the environment. Wine
// does not refuse a second opener of a port as Windows does, so that is not tested here.

#include "core/TimeFrame.h"
#include "platform/SerialPorts.h"
#include "platform/Win32SerialLink.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_Win32SerialLink : public QObject
{
    Q_OBJECT

    QString m_port;   ///< "COM12"
    QString m_record; ///< the emulator's output

    /// The frames the display has received, oldest first.
    QList<QJsonObject> received() const
    {
        QList<QJsonObject> frames;
        QFile file(m_record);
        if (!file.open(QIODevice::ReadOnly))
            return frames;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.value(QStringLiteral("event")).toString() == QLatin1String("frame"))
                frames.append(object);
        }
        return frames;
    }

private slots:
    void initTestCase()
    {
        PortNames::setNaming(&systemPortNaming());
        m_port = qEnvironmentVariable("ORVANTIDE_TEST_PORT");
        m_record = qEnvironmentVariable("ORVANTIDE_TEST_PORT_RECORD");
        if (m_port.isEmpty() || m_record.isEmpty())
            QFAIL("needs a port with a display on it: run scripts/test-windows");
    }

    void frameReachesTheDisplay_data()
    {
        QTest::addColumn<QString>("device"); ///< as the settings file's CommPort names it
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("applied"); ///< as the display's side reads them
        QTest::addColumn<QTime>("time");
        QTest::newRow("9600,N,8,1") << "" << "9600,N,8,1" << "9600,N,8,1" << QTime(1, 2, 3);
        QTest::newRow("19200,N,8,2") << "" << "19200,N,8,2" << "19200,N,8,2" << QTime(4, 5, 6);
        // A pseudo-terminal forces 8 data bits and no parity; speed and stop bits show.
        QTest::newRow("4800,E,7,1") << "" << "4800,E,7,1" << "4800,N,8,1" << QTime(7, 8, 9);
        QTest::newRow("\\\\.\\ form") << "\\\\.\\" << "2400,N,8,1" << "2400,N,8,1"
                                      << QTime(10, 11, 12);
    }

    void frameReachesTheDisplay()
    {
        QFETCH(QString, device);
        QFETCH(QString, settings);
        QFETCH(QString, applied);
        QFETCH(QTime, time);
        LineSettings line;
        QString error;
        QVERIFY2(LineSettings::parse(settings, &line, &error), qPrintable(error));
        const qsizetype before = received().size();

        const std::unique_ptr<SerialLink> link = createSerialLink();
        QVERIFY2(link->open(device + m_port, line, &error), qPrintable(error));
        QVERIFY2(link->write(TimeFrame(time), &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), before + 1, 10000);
        const QJsonObject frame = received().constLast();
        QCOMPARE(frame.value(QStringLiteral("bytes")).toString(),
                 QString::fromLatin1(TimeFrame(time).toHex(' ').toUpper()));
        QCOMPARE(frame.value(QStringLiteral("line")).toString(), applied);
    }

    void missingPortSaysWhy()
    {
        LineSettings line;
        QString error;
        const std::unique_ptr<SerialLink> link = createSerialLink();
        QVERIFY(!link->open(QStringLiteral("COM199"), line, &error));
        QVERIFY2(error.startsWith(QLatin1String("Could not open COM199: ")), qPrintable(error));
        // The system's own text follows.
        QVERIFY2(error.size() > QStringLiteral("Could not open COM199: ").size() + 5,
                 qPrintable(error));
        QVERIFY(!link->isOpen());
    }

    void portIsListed()
    {
        QStringList values;
        for (const PortChoice &choice : SerialPorts::available())
            values.append(choice.value);
        QVERIFY2(values.contains(m_port), qPrintable(values.join(QLatin1Char(' '))));
    }
};

QTEST_GUILESS_MAIN(tst_Win32SerialLink)
#include "tst_win32seriallink.moc"
