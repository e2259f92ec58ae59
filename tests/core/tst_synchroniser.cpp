#include "core/fakes.h"
#include "files.h"

#include "core/SyncSlot.h"
#include "core/Synchroniser.h"
#include "core/TimeFrame.h"
#include "core/modINI.h"
#include "core/modVariables.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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

} // namespace

class tst_Synchroniser : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    modVariables m_vars;
    FakeLink m_link;
    FakeClock m_clock;
    RecordingView m_view;
    Synchroniser *m_sync = nullptr;

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("orvtide.ini")); }

    /// A null `content` leaves no settings file at all.
    void writeSettings(const QByteArray &content)
    {
        QFile::remove(settingsPath());
        if (!content.isNull())
            QVERIFY(writeFile(settingsPath(), content));
    }

    QByteArray settingsBytes() const { return readFile(settingsPath()); }

    /// Started with a long interval, start-up's frame written and forgotten.
    void startedAndSynced()
    {
        writeSettings("[Settings]\nCommPort=/dev/x\nSetting=9600,N,8,1\n[Sync]\nInterval=720\n");
        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::Started);
        reachSlot(*m_sync, m_clock);
        m_link.written.clear();
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        modINI::setAppFolder(m_dir.path());
    }

    void init()
    {
        m_vars = modVariables();
        m_link = FakeLink();
        m_clock = FakeClock();
        m_view = RecordingView();
        m_sync = new Synchroniser(m_vars, m_link, m_clock, m_view);
    }

    void cleanup() { delete m_sync; }

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

    void sendTimePacket_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("writeError");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("openAfter");

        QTest::newRow("open") << true << "" << 1 << "Last Sync at 07/12/2026 14:05:09"
                              << "" << true;
        QTest::newRow("closed") << false << "" << 0 << "Port Not Open"
                                << "" << false;
        // A write error (device unplugged) closes the port and the status says why.
        QTest::newRow("write fails") << true << "Input/output error" << 0 << "Port Not Open"
                                     << "Input/output error" << false;
    }

    void sendTimePacket()
    {
        QFETCH(bool, open);
        QFETCH(QString, writeError);
        QFETCH(int, frames);
        QFETCH(QString, status);
        QFETCH(QString, detail);
        QFETCH(bool, openAfter);

        m_link.portOpen = open;
        m_link.writeError = writeError;
        m_sync->SendTimePacket();
        QCOMPARE(m_sync->pendingSecond().isValid(), open);
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written.size(), frames);
        if (frames)
            QCOMPARE(m_link.written.first(), bytes({0xFE, 0x10, 0x09, 0x05, 0x0E, 0xFF}));
        QCOMPARE(m_view.status(), status);
        QCOMPARE(m_view.detail(), detail);
        QCOMPARE(m_link.isOpen(), openAfter);
    }

    void syncSlot_data()
    {
        QTest::addColumn<QTime>("now");
        QTest::addColumn<qint64>("lineTimeUs");
        QTest::addColumn<QTime>("second");
        QTest::addColumn<qint64>("delayUs");
        // 9600,N,8,1: six characters of ten bits take 6.25 ms.
        QTest::newRow("mid-second")
            << QTime(14, 5, 8, 500) << 6250LL << QTime(14, 5, 9) << 493750LL;
        QTest::newRow("on the second") << QTime(14, 5, 9) << 6250LL << QTime(14, 5, 10) << 993750LL;
        QTest::newRow("too close: the next second")
            << QTime(14, 5, 8, 995) << 6250LL << QTime(14, 5, 10) << 998750LL;
        // 300,N,8,1: 200 ms on the line.
        QTest::newRow("slow line")
            << QTime(14, 5, 8, 700) << 200000LL << QTime(14, 5, 9) << 100000LL;
        QTest::newRow("slow line, too close")
            << QTime(14, 5, 8, 850) << 200000LL << QTime(14, 5, 10) << 950000LL;
    }

    void syncSlot()
    {
        QFETCH(QTime, now);
        QFETCH(qint64, lineTimeUs);
        QFETCH(QTime, second);
        QFETCH(qint64, delayUs);
        const SyncSlot slot =
            nextSyncSlot(at(now).toMSecsSinceEpoch() * 1'000'000, lineTimeUs * 1000, 3'000'000);
        QCOMPARE(slot.second, at(second));
        QCOMPARE(slot.delayNs, delayUs * 1000);
    }

    // Planning from the clock cut to the millisecond put writes up to a millisecond late.
    void slotCountsBelowTheMillisecond()
    {
        const qint64 wallNs = at(QTime(14, 5, 8, 500)).toMSecsSinceEpoch() * 1'000'000 + 750'000;
        QCOMPARE(nextSyncSlot(wallNs, 6'250'000, 3'000'000).delayNs, 493'000'000);
    }

    void slotAtMidnightCarriesTheNewDay()
    {
        const SyncSlot slot = nextSyncSlot(
            at(QTime(23, 59, 59, 400)).toMSecsSinceEpoch() * 1'000'000, 6'250'000, 3'000'000);
        QCOMPARE(slot.second, QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
    }

    // The write waits for its slot, so the frame carries the second at whose start its
    // last byte leaves: the display is never set up to a second late.
    void frameWaitsForItsSecond()
    {
        writeSettings("[Settings]\nCommPort=/dev/x\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::Started);
        QCOMPARE(m_sync->pendingSecond(), at(QTime(14, 5, 9)));
        QCOMPARE(m_sync->nsUntilWrite(), 493'750'000);
        QVERIFY(m_sync->syncTimer()->isActive());
        QVERIFY(m_sync->syncTimer()->interval() <= 493);
        m_sync->writeDueFrames(); // woken early: waits, then writes at the slot
        m_clock.advanceNs(m_sync->nsUntilWrite() + 1);
        m_sync->writeDueFrames();
        QCOMPARE(m_link.written, QList<QByteArray>{bytes({0xFE, 0x10, 0x09, 0x05, 0x0E, 0xFF})});
    }

    void lateWakeWaitsForTheNextSecond()
    {
        m_link.portOpen = true;
        m_sync->SendTimePacket();
        m_clock.advanceNs(m_sync->nsUntilWrite() + Synchroniser::kLateLimitNs + 1);
        m_sync->writeDueFrames();
        QVERIFY(m_link.written.isEmpty());
        QCOMPARE(m_sync->pendingSecond(), at(QTime(14, 5, 10)));
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written.value(0), bytes({0xFE, 0x10, 0x0A, 0x05, 0x0E, 0xFF}));
    }

    void twoPressesSendTwoIdenticalFrames()
    {
        m_link.portOpen = true;
        m_sync->cmdSyncClick();
        m_clock.advanceMs(200);
        m_sync->cmdSyncClick();
        reachSlot(*m_sync, m_clock);
        const QByteArray frame = bytes({0xFE, 0x10, 0x09, 0x05, 0x0E, 0xFF});
        QCOMPARE(m_link.written, QList<QByteArray>{frame + frame});
    }

    void startUp_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("device"); ///< opened device, or the error's key/value text

        QTest::newRow("number names ttyS")
            << QByteArray("[Settings]\r\nCommPort=1\r\n"
                          "Setting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n")
            << "/dev/ttyS0";
        QTest::newRow("blanks and sign")
            << QByteArray("[Settings]\nCommPort= +3 \nSetting=19200,e,7,2\n"
                          "[Sync]\nInterval= -0 \n")
            << "/dev/ttyS2";
        QTest::newRow("device path") << QByteArray("[Settings]\nCommPort=/dev/ttyUSB0\n"
                                                   "Setting=9600,N,8,1\n[Sync]\nInterval=1\n")
                                     << "/dev/ttyUSB0";
    }

    void startUp()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, device);
        writeSettings(file);
        const QByteArray before = settingsBytes();

        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::Started);
        QCOMPARE(m_link.opened, QStringList{device});
        // The window goes away only once the first frame is written.
        QCOMPARE(m_view.minimised, 0);
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written.size(), 1);
        QCOMPARE(m_view.minimised, 1);
        QVERIFY(m_view.status().startsWith(QLatin1String("Last Sync at ")));
        QCOMPARE(m_view.clockTexts.value(0), QStringLiteral("14:05:08"));
        QVERIFY(m_sync->Timer1()->isActive());
        QVERIFY(m_sync->Timer2()->isActive());
        QCOMPARE(m_sync->Timer2()->interval(), 60000);
        QCOMPARE(m_vars.MinuteCount, qint16(0));
        QCOMPARE(settingsBytes(), before);
    }

    void startUpWithBadSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message"); ///< part of the message besides the file's path

        const QByteArray good("[Settings]\nCommPort=1\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        auto with = [&](const char *from, const char *to) {
            return QByteArray(good).replace(from, to);
        };
        QTest::newRow("missing file") << QByteArray() << "was not found";
        QTest::newRow("empty file") << QByteArray("") << "[Sync], key Interval: \"\"";
        QTest::newRow("interval not a number") << with("=60", "=abc") << "key Interval: \"abc\"";
        QTest::newRow("interval fraction") << with("=60", "=1.5") << "key Interval: \"1.5\"";
        QTest::newRow("interval over 16 bits")
            << with("=60", "=32768") << "key Interval: \"32768\"";
        QTest::newRow("interval under 16 bits")
            << with("=60", "=-32769") << "key Interval: \"-32769\"";
        QTest::newRow("port empty")
            << with("CommPort=1", "CommPort=") << "[Settings], key CommPort: \"\"";
        QTest::newRow("port not a number")
            << with("CommPort=1", "CommPort=COM3") << "key CommPort: \"COM3\"";
        QTest::newRow("port two signs")
            << with("CommPort=1", "CommPort=+-1") << "key CommPort: \"+-1\"";
        QTest::newRow("parity") << with("9600,N", "9600,X") << "key Setting: \"9600,X,8,1\"";
        QTest::newRow("data bits") << with(",8,", ",9,") << "key Setting: \"9600,N,9,1\"";
        QTest::newRow("stop bits") << with(",8,1", ",8,3") << "key Setting: \"9600,N,8,3\"";
        QTest::newRow("baud") << with("9600", "fast") << "key Setting: \"fast,N,8,1\"";
        QTest::newRow("too few fields")
            << with("9600,N,8,1", "9600,N,8") << "key Setting: \"9600,N,8\"";
        // Crashed the program after 15 s of "Broken filename passed to function".
        QTest::newRow("NUL in the port")
            << QByteArray(good).replace("CommPort=1", QByteArray("CommPort=/dev/pts/1", 19) +
                                                          QByteArray(1, '\0') + "more")
            << "key CommPort: \"/dev/pts/1\\x00more\"";
        QTest::newRow("control character in the line settings")
            << with("9600,N,8,1", "9600,N,8,1\x01") << "key Setting: \"9600,N,8,1\\x01\"";
    }

    // A folder where the settings file should be read as "was not found".
    void startUpNamesWhatIsWrongWithTheFile()
    {
        QFile::remove(settingsPath());
        QVERIFY(QDir().mkdir(settingsPath()));
        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::SettingsError);
        QDir().rmdir(settingsPath());
        QVERIFY2(
            m_view.settingsErrors.value(0).contains(QLatin1Char('"') + settingsPath() +
                                                    QStringLiteral("\" is not a regular file.")),
            qPrintable(m_view.settingsErrors.value(0)));
    }

    // A settings file that can't be used stops start-up with a message naming the file,
    // section, key and value; nothing is opened, sent or written.
    void startUpWithBadSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        writeSettings(file);
        const QByteArray before = settingsBytes();

        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::SettingsError);
        QCOMPARE(m_view.settingsErrors.size(), 1);
        const QString error = m_view.settingsErrors.first();
        QVERIFY2(error.contains(settingsPath()), qPrintable(error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(m_link.opened.isEmpty());
        QVERIFY(m_link.written.isEmpty());
        QCOMPARE(m_view.minimised, 0);
        QVERIFY(!m_sync->Timer1()->isActive());
        QVERIFY(!m_sync->Timer2()->isActive());
        QCOMPARE(settingsBytes(), before);
        QCOMPARE(QFile::exists(settingsPath()), !file.isNull());
    }

    void startUpWhenThePortFails_data()
    {
        QTest::addColumn<QString>("commPort");
        QTest::addColumn<QString>("openError");
        QTest::addColumn<QString>("writeError");
        QTest::addColumn<QString>("detail");

        QTest::newRow("open fails") << "4"
                                    << "Could not open /dev/ttyS3: No such file or directory"
                                    << ""
                                    << "Could not open /dev/ttyS3: No such file or directory";
        QTest::newRow("first write fails") << "4"
                                           << ""
                                           << "Input/output error"
                                           << "Input/output error";
        QTest::newRow("port number 0") << "0"
                                       << ""
                                       << ""
                                       << "No serial port has the number 0.";
    }

    void startUpWhenThePortFails()
    {
        QFETCH(QString, commPort);
        QFETCH(QString, openError);
        QFETCH(QString, writeError);
        QFETCH(QString, detail);
        writeSettings("[Settings]\nCommPort=" + commPort.toUtf8() +
                      "\nSetting=9600,N,8,1\n[Sync]\nInterval=30\n");
        m_link.openError = openError;
        m_link.writeError = writeError;

        QCOMPARE(m_sync->startUp(), writeError.isEmpty() ? Synchroniser::StartUpResult::PortNotOpen
                                                         : Synchroniser::StartUpResult::Started);
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_view.status(), QStringLiteral("Port Not Open"));
        QCOMPARE(m_view.detail(), detail);
        QCOMPARE(m_view.minimised, 0);
        QVERIFY(m_link.written.isEmpty());
        QVERIFY(!m_link.isOpen());
        // The clock runs and the schedule keeps reporting, whatever the outcome.
        QVERIFY(m_sync->Timer1()->isActive());
        QVERIFY(m_sync->Timer2()->isActive());
        QCOMPARE(m_vars.SyncInterval, qint16(30));
    }

    void schedule_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("startCount");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("countAfter");

        QTest::newRow("every minute") << 1 << 0 << 3 << 3 << 0;
        QTest::newRow("30: one short") << 30 << 0 << 29 << 0 << 29;
        QTest::newRow("30: due") << 30 << 0 << 30 << 1 << 0;
        QTest::newRow("30: twice and one") << 30 << 0 << 61 << 2 << 1;
        QTest::newRow("720: one short") << 720 << 0 << 719 << 0 << 719;
        QTest::newRow("720: due after 12 hours") << 720 << 0 << 720 << 1 << 0;
        QTest::newRow("0: never") << 0 << 0 << 100 << 0 << 100;
        // The count stops at 32767 rather than wrapping round to -32768 after 22 days.
        QTest::newRow("negative: count stops at its limit") << -5 << 32760 << 20 << 0 << 32767;
        QTest::newRow("0: count stays at its limit") << 0 << 32767 << 2 << 0 << 32767;
    }

    void schedule()
    {
        QFETCH(int, interval);
        QFETCH(int, startCount);
        QFETCH(int, ticks);
        QFETCH(int, frames);
        QFETCH(int, countAfter);
        m_link.portOpen = true;
        m_vars.SyncInterval = qint16(interval);
        m_vars.MinuteCount = qint16(startCount);
        for (int i = 0; i < ticks; ++i) {
            m_sync->Timer2Tick();
            reachSlot(*m_sync, m_clock);
        }
        QCOMPARE(m_link.written.size(), frames);
        QCOMPARE(int(m_vars.MinuteCount), countAfter);
    }

    void syncNowLeavesTheCountAlone()
    {
        m_link.portOpen = true;
        m_vars.SyncInterval = 30;
        for (int i = 0; i < 10; ++i)
            m_sync->Timer2Tick();
        m_sync->cmdSyncClick();
        QCOMPARE(m_vars.MinuteCount, qint16(10));
    }

    void scheduleWithClosedPortReportsEachTime()
    {
        m_vars.SyncInterval = 1;
        m_sync->Timer2Tick();
        m_sync->Timer2Tick();
        QCOMPARE(m_view.statuses.size(), 2);
        QCOMPARE(m_view.status(), QStringLiteral("Port Not Open"));
    }

    void syncTimeText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("en_US") << "en_US"
                               << "12/7/26 10:03:07 AM";
        QTest::newRow("de_DE") << "de_DE"
                               << "07.12.26 10:03:07";
        QTest::newRow("fi_FI: dots") << "fi_FI"
                                     << "7.12.2026 10.03.07";
        QTest::newRow("zh_CN: zone first") << "zh_CN"
                                           << "2026/12/7 10:03:07";
        QTest::newRow("fr_CA: quoted words") << "fr_CA"
                                             << "2026-12-07 10 h 03 min 07 s";
    }

    // Two syncs in one minute are told apart: the status line's time has its seconds, in
    // the user's locale, without the time zone.
    void syncTimeText()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(Synchroniser::syncTimeText(QDateTime(QDate(2026, 12, 7), QTime(10, 3, 7)),
                                            QLocale(locale)),
                 text);
    }

    void clockText_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("nextTickMs");
        // Ticks come just after the change of second and half a second later.
        QTest::newRow("morning") << QTime(9, 5, 7, 1) << "09:05:07" << 500;
        QTest::newRow("evening") << QTime(21, 5, 7, 1) << "21:05:07" << 500;
        QTest::newRow("half past") << QTime(21, 5, 7, 501) << "21:05:07" << 500;
        QTest::newRow("late tick") << QTime(21, 5, 7, 300) << "21:05:07" << 201;
        // A timer that fires a little before the change of second shows the new one.
        QTest::newRow("early tick") << QTime(9, 5, 6, 990) << "09:05:07" << 511;
        QTest::newRow("too early to count") << QTime(9, 5, 6, 940) << "09:05:06" << 61;
        QTest::newRow("early for half past") << QTime(9, 5, 7, 480) << "09:05:07" << 521;
        QTest::newRow("midnight") << QTime(0, 0, 0, 1) << "00:00:00" << 500;
        QTest::newRow("last second") << QTime(23, 59, 59, 1) << "23:59:59" << 500;
    }

    // The tick is aimed just past each change of second, so the clock text never skips
    // or repeats a second as a repeating one-second timer drifting against the PC clock would.
    void clockText()
    {
        QFETCH(QTime, time);
        QFETCH(QString, text);
        QFETCH(int, nextTickMs);
        m_clock.set(time);
        m_sync->Timer1Tick();
        QCOMPARE(m_view.clockTexts.last(), text);
        QVERIFY(m_sync->Timer1()->isActive());
        QCOMPARE(m_sync->Timer1()->interval(), nextTickMs);
    }

    void clockJumps_data()
    {
        QTest::addColumn<int>("wallMs"); ///< how far the PC clock moved between two ticks
        QTest::addColumn<int>("monoMs"); ///< how far the monotonic clock moved
        QTest::addColumn<bool>("sync");
        QTest::newRow("steady") << 1000 << 1000 << false;
        QTest::newRow("late tick") << 1900 << 1900 << false;
        QTest::newRow("slewed by a millisecond") << 1001 << 1000 << false;
        QTest::newRow("stepped 49 ms") << 1049 << 1000 << false;
        QTest::newRow("stepped 50 ms") << 1050 << 1000 << true;
        QTest::newRow("stepped 0.9 s back") << 100 << 1000 << true;
        QTest::newRow("a second repeated") << 0 << 1000 << true;
        QTest::newRow("daylight saving: an hour forward") << 3601000 << 1000 << true;
        QTest::newRow("an hour back") << -3599000 << 1000 << true;
        QTest::newRow("set back five seconds") << -4000 << 1000 << true;
        QTest::newRow("resume after an hour asleep") << 3600000 << 0 << true;
    }

    // After a daylight-saving change or a clock step the display stayed wrong until the
    // next scheduled sync, for up to 12 hours; steps of a second or less were never
    // followed at all.
    void clockJumps()
    {
        QFETCH(int, wallMs);
        QFETCH(int, monoMs);
        QFETCH(bool, sync);
        startedAndSynced();
        m_sync->Timer1Tick();

        m_clock.mono += qint64(monoMs) * 1'000'000;
        m_clock.wall = m_clock.wall.addMSecs(wallMs);
        m_sync->Timer1Tick();
        QCOMPARE(m_sync->pendingSecond().isValid(), sync);
        const QDateTime carried = m_sync->pendingSecond();
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written.size(), sync ? 1 : 0);
        if (sync) // the new time, within the second
            QVERIFY(std::abs(carried.msecsTo(m_clock.wall)) < 1000);
    }

    // Reading a large settings file took 1.3 s; the clock readings on either side of it
    // looked like a step, and start-up sent a second frame.
    void slowStartUpIsNoStep()
    {
        writeSettings("[Settings]\nCommPort=/dev/x\nSetting=9600,N,8,1\n[Sync]\nInterval=720\n");
        m_view.onClockText = [this] { m_clock.advanceMs(1300); };
        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::Started);
        m_view.onClockText = nullptr;
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written.size(), 1);
        m_clock.advanceMs(500);
        m_sync->Timer1Tick();
        QVERIFY(!m_sync->pendingSecond().isValid());
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

    // A frame waiting for its slot carried the second planned before the PC clock was set,
    // and the display showed the old time until the next scheduled sync.
    void clockSetWhileFrameWaits()
    {
        QFETCH(int, setMs);
        QFETCH(bool, replanned);
        startedAndSynced();
        m_sync->cmdSyncClick();
        const QDateTime planned = m_sync->pendingSecond();

        m_clock.wall = m_clock.wall.addMSecs(setMs);
        m_clock.advanceNs(m_sync->nsUntilWrite());
        m_sync->writeDueFrames();
        if (!replanned) {
            QCOMPARE(m_link.written, QList<QByteArray>{TimeFrame(planned.time())});
            return;
        }
        QCOMPARE(m_link.written.size(), 0);
        const QDateTime carried = m_sync->pendingSecond();
        // The next slot of the new time: the next second, or the one after when too close.
        const qint64 aheadMs = m_clock.wall.msecsTo(carried);
        QVERIFY2(aheadMs > 0 && aheadMs <= 1100, qPrintable(QString::number(aheadMs)));
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written, QList<QByteArray>{TimeFrame(carried.time())});
    }

    // A port that failed to open, or went away, is tried again every ten seconds and at
    // every sync, so the display is served again without a restart.
    void closedPortIsTriedAgain()
    {
        writeSettings("[Settings]\nCommPort=/dev/x\nSetting=9600,N,8,1\n[Sync]\nInterval=720\n");
        m_link.openError = QStringLiteral("Could not open /dev/x: No such file or directory");
        QCOMPARE(m_sync->startUp(), Synchroniser::StartUpResult::PortNotOpen);
        auto tick = [&] {
            m_clock.advanceMs(1000);
            m_sync->Timer1Tick();
        };
        for (int i = 0; i < Synchroniser::kReconnectSeconds - 1; ++i)
            tick();
        QCOMPARE(m_link.opened.size(), 1);
        tick();
        QCOMPARE(m_link.opened.size(), 2);
        QCOMPARE(m_view.status(), QStringLiteral("Port Not Open"));
        // Every sync tries as well.
        m_sync->cmdSyncClick();
        QCOMPARE(m_link.opened.size(), 3);

        m_link.openError.clear();
        for (int i = 0; i < Synchroniser::kReconnectSeconds; ++i)
            tick();
        QCOMPARE(m_link.opened.size(), 4);
        reachSlot(*m_sync, m_clock);
        QCOMPARE(m_link.written.size(), 1);
        QVERIFY(m_view.status().startsWith(QLatin1String("Last Sync at ")));

        // Not while the settings dialog has the port.
        m_sync->suspend();
        for (int i = 0; i < 2 * Synchroniser::kReconnectSeconds; ++i)
            tick();
        QCOMPARE(m_link.opened.size(), 4);
    }

    void shutDownClosesThePort()
    {
        m_link.portOpen = true;
        m_sync->Timer1()->start();
        m_sync->Timer2()->start();
        m_sync->shutDown();
        QVERIFY(!m_link.isOpen());
        QVERIFY(!m_sync->Timer1()->isActive());
        QVERIFY(!m_sync->Timer2()->isActive());
    }
};

QTEST_GUILESS_MAIN(tst_Synchroniser)
#include "tst_synchroniser.moc"
