#include "core/fakes.h"
#include "platform/pty.h"

#include "core/Synchroniser.h"
#include "core/modVariables.h"
#include "platform/LineSettings.h"
#include "platform/SerialLink.h"

#include "core/TimeFrame.h"
#include "core/modINI.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

/// A device whose writes fail once `budget` bytes have been written.
class FailDevice : public QBuffer
{
public:
    explicit FailDevice(qint64 budget) : m_budget(budget) {}

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        if (len > m_budget) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_budget -= len;
        return QBuffer::writeData(data, len);
    }

private:
    qint64 m_budget;
};

const QByteArray kFrame("\xFE\x10\x09\x05\x0E\xFF", 6);

} // namespace

class tst_SerialLink : public QObject
{
    Q_OBJECT

private slots:
    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<double>("bitsPerCharacter");

        QTest::newRow("9600,N,8,1") << "9600,N,8,1" << true << 9600 << int(QSerialPort::NoParity)
                                    << 8 << int(QSerialPort::OneStop) << 10.0;
        QTest::newRow("lower-case even")
            << "19200,e,7,2" << true << 19200 << int(QSerialPort::EvenParity) << 7
            << int(QSerialPort::TwoStop) << 11.0;
        QTest::newRow("odd, 1.5 stop")
            << "1200,O,5,1.5" << true << 1200 << int(QSerialPort::OddParity) << 5
            << int(QSerialPort::OneAndHalfStop) << 8.5;
        QTest::newRow("mark") << "300,m,6,1" << true << 300 << int(QSerialPort::MarkParity) << 6
                              << int(QSerialPort::OneStop) << 9.0;
        QTest::newRow("space, blanks")
            << " 4800 , S , 8 , 1 " << true << 4800 << int(QSerialPort::SpaceParity) << 8
            << int(QSerialPort::OneStop) << 11.0;
        for (const char *bad : {"", "9600", "9600,N,8", "9600,N,8,1,1", "0,N,8,1", "-9600,N,8,1",
                                "96x0,N,8,1", "9600,X,8,1", "9600,NN,8,1", "9600,N,4,1",
                                "9600,N,9,1", "9600,N,8,3", "9600,N,8,1.0", "9600,N,8,"})
            QTest::newRow(bad) << bad << false << 0 << 0 << 0 << 0 << 0.0;
    }

    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        LineSettings s;
        QString error;
        QCOMPARE(LineSettings::parse(text, &s, &error), valid);
        if (!valid) {
            QVERIFY2(error.contains(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(error));
            return;
        }
        QTEST(int(s.baudRate), "baud");
        QTEST(int(s.parity), "parity");
        QTEST(int(s.dataBits), "dataBits");
        QTEST(int(s.stopBits), "stopBits");
        QTEST(s.bitsPerCharacter(), "bitsPerCharacter");
    }

    void portNames_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("first") << 1 << "/dev/ttyS0";
        QTest::newRow("sixth") << 6 << "/dev/ttyS5";
        QTest::newRow("zero names none") << 0 << "";
        QTest::newRow("negative names none") << -3 << "";
    }

    void portNames()
    {
        QFETCH(int, number);
        QFETCH(QString, device);
        QCOMPARE(SerialPortNaming::deviceForNumber(number), device);
    }

    void writeCountsOnlyDrainedBytes_data()
    {
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<bool>("ok");
        QTest::newRow("room for all") << qint64(6) << true;
        QTest::newRow("room for five") << qint64(5) << false;
        QTest::newRow("no room") << qint64(0) << false;
    }

    void writeCountsOnlyDrainedBytes()
    {
        QFETCH(qint64, budget);
        QFETCH(bool, ok);
        FailDevice device(budget);
        QVERIFY(device.open(QIODevice::WriteOnly));
        QString error;
        QCOMPARE(writeDrained(device, kFrame, 100, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (!ok)
            QCOMPARE(error, QStringLiteral("No space left on device"));
    }

    void bytesArriveOnThePty()
    {
        Pty pty;
        QtSerialLink link;
        QString error;
        QVERIFY2(link.open(pty.path, LineSettings(), &error), qPrintable(error));
        QVERIFY(link.isOpen());
        QVERIFY2(link.write(kFrame, &error), qPrintable(error));
        QVERIFY2(link.write(kFrame, &error), qPrintable(error));
        QCOMPARE(pty.read(12), kFrame + kFrame);
        link.close();
        QVERIFY(!link.isOpen());
    }

    void missingDevice()
    {
        QtSerialLink link;
        QString error;
        QVERIFY(!link.open(QStringLiteral("/dev/orvantide-no-such-tty"), LineSettings(), &error));
        QVERIFY(!link.isOpen());
        QVERIFY2(error.startsWith(QLatin1String("Could not open /dev/orvantide-no-such-tty: ")),
                 qPrintable(error));
    }

    void busyDevice()
    {
        Pty pty;
        QtSerialLink first;
        QtSerialLink second;
        QString error;
        QVERIFY2(first.open(pty.path, LineSettings(), &error), qPrintable(error));
        QVERIFY(!second.open(pty.path, LineSettings(), &error));
        QVERIFY2(error.contains(pty.path), qPrintable(error));
        // The first keeps working.
        QVERIFY(first.write(kFrame, &error));
        QCOMPARE(pty.read(6), kFrame);
    }

    // The other end going away mid-run (an adapter unplugged) closes the port, and the
    // status line says so with the system's reason.
    void otherEndClosedMidRun()
    {
        Pty pty;
        QtSerialLink link;
        modVariables vars;
        FakeClock clock;
        RecordingView view;
        Synchroniser sync(vars, link, clock, view);
        QString error;
        QVERIFY(link.open(pty.path, LineSettings(), &error));
        sync.SendTimePacket();
        reachSlot(sync, clock);
        QCOMPARE(pty.read(6), kFrame);

        pty.closeMaster();
        sync.SendTimePacket();
        reachSlot(sync, clock);
        QCOMPARE(view.status(), QStringLiteral("Port Not Open"));
        QVERIFY2(view.detail().startsWith(QLatin1String("Could not write to ") + pty.path),
                 qPrintable(view.detail()));
        QVERIFY(!link.isOpen());
        sync.SendTimePacket();
        QVERIFY(!sync.pendingSecond().isValid());
        QCOMPARE(view.status(), QStringLiteral("Port Not Open"));
    }

    // An adapter unplugged and plugged in again: the device goes away, a new one comes up
    // behind the same name, and frames flow again without restarting the program.
    void reconnectsToANewDeviceAtTheSameName()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("display"));
        auto first = std::make_unique<Pty>();
        QVERIFY(QFile::link(first->path, name));
        QFile ini(dir.filePath(QStringLiteral("orvtide.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Settings]\nCommPort=" + name.toUtf8() +
                  "\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        ini.close();
        modINI::setAppFolder(dir.path());

        QtSerialLink link;
        modVariables vars;
        FakeClock clock;
        RecordingView view;
        Synchroniser sync(vars, link, clock, view);
        QCOMPARE(sync.startUp(), Synchroniser::StartUpResult::Started);
        reachSlot(sync, clock);
        QCOMPARE(first->read(6).size(), 6);

        first.reset();
        QFile::remove(name);
        sync.cmdSyncClick();
        reachSlot(sync, clock);
        QCOMPARE(view.status(), QStringLiteral("Port Not Open"));

        Pty second;
        QVERIFY(QFile::link(second.path, name));
        for (int i = 0; i < Synchroniser::kReconnectSeconds; ++i) {
            clock.advanceMs(1000);
            sync.Timer1Tick();
        }
        QVERIFY(link.isOpen());
        const QDateTime carried = sync.pendingSecond();
        reachSlot(sync, clock);
        QCOMPARE(second.read(6), TimeFrame(carried.time()));
        QVERIFY(view.status().startsWith(QLatin1String("Last Sync at ")));
    }
};

QTEST_GUILESS_MAIN(tst_SerialLink)
#include "tst_seriallink.moc"
