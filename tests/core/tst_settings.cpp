#include "core/fakes.h"
#include "platform/SerialPorts.h"
#include "files.h"

#include "core/PortNames.h"
#include "core/Settings.h"
#include "platform/ProfileFile.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(SettingsKey)

class tst_Settings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path() const { return m_dir.filePath(QStringLiteral("orvtide.ini")); }

    /// A null `content` leaves no settings file at all.
    void writeSettings(const QByteArray &content)
    {
        QFile::remove(path());
        if (!content.isNull())
            QVERIFY(writeFile(path(), content));
    }

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

    void load_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("commPort");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("warn");
        QTest::newRow("CR LF") << QByteArray("[Settings]\r\nCommPort=1\r\n"
                                             "Setting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n")
                               << "1"
                               << "9600,N,8,1" << 60 << true;
        QTest::newRow("blanks and sign")
            << QByteArray("[Settings]\nCommPort= +3 \nSetting=19200,e,7,2\n[Sync]\nInterval= -0 \n")
            << "+3"
            << "19200,e,7,2" << 0 << true;
        QTest::newRow("device path, keys in any order")
            << QByteArray("[Sync]\nInterval=720\n[Settings]\nSetting=300,N,8,2\n"
                          "CommPort=" +
                          testDevice().toUtf8() + "\nSyncInt=3\n")
            << testDevice() << "300,N,8,2" << 720 << true;
        QTest::newRow("PC clock warning off")
            << QByteArray("[Settings]\nCommPort=1\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n"
                          "WarnUnsynchronised=0\n")
            << "1"
            << "9600,N,8,1" << 60 << false;
    }

    void load()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, commPort);
        QFETCH(QString, line);
        QFETCH(int, interval);
        QFETCH(bool, warn);
        writeSettings(file);
        ProfileSettingsStore store(path());
        const SettingsLoad loaded = SettingsFile::load(store);
        QVERIFY2(loaded.settings, qPrintable(loaded.error));
        QCOMPARE(loaded.settings->commPort, commPort);
        QCOMPARE(loaded.settings->lineSettings, line);
        QCOMPARE(int(loaded.settings->interval), interval);
        QCOMPARE(loaded.settings->warnUnsynchronised, warn);
        QCOMPARE(readFile(path()), file);
    }

    void badSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message"); ///< part of the message besides the file's path

        const QByteArray good("[Settings]\nCommPort=1\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        auto with = [&](const char *from, const char *to) {
            return QByteArray(good).replace(from, to);
        };
        QTest::newRow("missing file") << QByteArray() << "\" was not found. It must hold the keys";
        QTest::newRow("empty file") << QByteArray("") << "[Sync], key Interval: \"\"";
        QTest::newRow("interval not a number") << with("=60", "=abc") << "key Interval: \"abc\"";
        QTest::newRow("interval fraction") << with("=60", "=1.5") << "key Interval: \"1.5\"";
        QTest::newRow("interval over 16 bits")
            << with("=60", "=32768") << "key Interval: \"32768\"";
        QTest::newRow("interval under 16 bits")
            << with("=60", "=-32769") << "key Interval: \"-32769\"";
        QTest::newRow("port empty")
            << with("CommPort=1", "CommPort=") << "[Settings], key CommPort: \"\"";
#ifdef Q_OS_WIN
        QTest::newRow("port not a number")
            << with("CommPort=1", "CommPort=/dev/ttyS2") << "key CommPort: \"/dev/ttyS2\"";
#else
        QTest::newRow("port not a number")
            << with("CommPort=1", "CommPort=COM3") << "key CommPort: \"COM3\"";
#endif
        QTest::newRow("port two signs")
            << with("CommPort=1", "CommPort=+-1") << "key CommPort: \"+-1\"";
        QTest::newRow("parity") << with("9600,N", "9600,X") << "key Setting: \"9600,X,8,1\"";
        QTest::newRow("data bits") << with(",8,", ",9,") << "key Setting: \"9600,N,9,1\"";
        QTest::newRow("stop bits") << with(",8,1", ",8,3") << "key Setting: \"9600,N,8,3\"";
        QTest::newRow("baud") << with("9600", "fast") << "key Setting: \"fast,N,8,1\"";
        QTest::newRow("too few fields")
            << with("9600,N,8,1", "9600,N,8") << "key Setting: \"9600,N,8\"";
        // A NUL names no device: the system would be handed a cut name.
        QTest::newRow("NUL in the port")
            << QByteArray(good).replace("CommPort=1", QByteArray("CommPort=/dev/pts/1", 19) +
                                                          QByteArray(1, '\0') + "more")
            << "key CommPort: \"/dev/pts/1\\x00more\"";
        QTest::newRow("PC clock warning neither 0 nor 1")
            << QByteArray(good + "WarnUnsynchronised=no\n") << "key WarnUnsynchronised: \"no\"";
        QTest::newRow("control character in the line settings")
            << with("9600,N,8,1", "9600,N,8,1\x01") << "key Setting: \"9600,N,8,1\\x01\"";
        QTest::newRow("vertical tab after the line settings")
            << with("9600,N,8,1", "9600,N,8,1\v") << "key Setting: \"9600,N,8,1\\x0b\"";
        QTest::newRow("form feed after the line settings")
            << with("9600,N,8,1", "9600,N,8,1\f") << "key Setting: \"9600,N,8,1\\x0c\"";
        QTest::newRow("tab inside the port") << with("CommPort=1", "CommPort=/dev/tty\tS0")
                                             << "key CommPort: \"/dev/tty\\x09S0\"";
#ifndef Q_OS_WIN
        QTest::newRow("network port without its port")
            << with("CommPort=1", "CommPort=rfc2217://display-7")
            << "key CommPort: \"rfc2217://display-7\". \"rfc2217://display-7\" names no network "
               "port";
#endif
    }

#ifndef Q_OS_WIN
    // A device server's port is named as users know it from pyserial; anything else that
    // begins with either scheme is refused with what would be right.
    void networkPortNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("rfc2217");
        QTest::addColumn<QString>("host"); ///< empty: refused
        QTest::addColumn<int>("port");
        QTest::newRow("rfc2217 name") << "rfc2217://display-7.site:4001" << true
                                      << "display-7.site" << 4001;
        QTest::newRow("raw IPv4, scheme in capitals") << "SOCKET://10.0.0.7:23" << false
                                                      << "10.0.0.7" << 23;
        QTest::newRow("IPv6 in brackets") << "rfc2217://[fe80::1]:65535" << true << "fe80::1"
                                          << 65535;
        QTest::newRow("no port") << "rfc2217://display" << true << "" << 0;
        QTest::newRow("port 0") << "socket://display:0" << false << "" << 0;
        QTest::newRow("port over 65535") << "socket://display:65536" << false << "" << 0;
        QTest::newRow("no host") << "rfc2217://:4001" << true << "" << 0;
        QTest::newRow("a path after it") << "socket://display:23/x" << false << "" << 0;
        QTest::newRow("IPv6 without brackets") << "rfc2217://fe80::1:23" << true << "" << 0;
        QTest::newRow("blank in the host") << "socket://dis play:23" << false << "" << 0;
    }

    void networkPortNames()
    {
        QFETCH(QString, text);
        QFETCH(bool, rfc2217);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString why;
        const std::optional<NetworkPort> parsed = PortNames::networkPort(text, &why);
        QCOMPARE(PortNames::deviceFor(text).has_value(), !host.isEmpty());
        if (host.isEmpty()) {
            QVERIFY(!parsed);
            QVERIFY2(why.contains(QLatin1String("rfc2217://HOST:PORT or socket://HOST:PORT")),
                     qPrintable(why));
            QCOMPARE(PortNames::whyNoPort(text), why);
            return;
        }
        QVERIFY2(parsed, qPrintable(why));
        QCOMPARE(parsed->protocol == NetworkPort::Protocol::Rfc2217, rfc2217);
        QCOMPARE(parsed->host, host);
        QCOMPARE(int(parsed->port), port);
    }
#endif

    // A settings file that can't be used gives a message naming the file, section, key and
    // value, and is left as it was.
    void badSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        writeSettings(file);
        ProfileSettingsStore store(path());
        const SettingsLoad loaded = SettingsFile::load(store);
        QVERIFY(!loaded.settings);
        QVERIFY2(loaded.error.contains(QLatin1Char('"') + path()), qPrintable(loaded.error));
        QVERIFY2(loaded.error.contains(message), qPrintable(loaded.error));
        QVERIFY2(SettingsFile::isStorable(loaded.error), "a control character shown raw");
        QCOMPARE(readFile(path()), file);
        QCOMPARE(QFile::exists(path()), !file.isNull());
    }

    void folderInPlaceOfTheFile()
    {
        QFile::remove(path());
        QVERIFY(QDir().mkdir(path()));
        ProfileSettingsStore store(path());
        const SettingsLoad loaded = SettingsFile::load(store);
        QDir().rmdir(path());
        QVERIFY2(loaded.error.contains(QLatin1Char('"') + path() +
                                       QStringLiteral("\" is not a regular file.")),
                 qPrintable(loaded.error));
    }

    void save_data()
    {
        QTest::addColumn<QList<SettingsKey>>("keys");
        QTest::addColumn<QStringList>("stored"); ///< section/key=value, in any order
        QTest::newRow("interval") << QList<SettingsKey>{SettingsKey::Interval}
                                  << QStringList{"Sync/Interval=30"};
        QTest::newRow("port and list entry")
            << QList<SettingsKey>{SettingsKey::CommPort, SettingsKey::IntervalIndex}
            << QStringList{"Settings/CommPort=/dev/ttyUSB1", "Settings/SyncInt=1"};
        QTest::newRow("line settings") << QList<SettingsKey>{SettingsKey::LineSettings}
                                       << QStringList{"Settings/Setting=19200,E,7,2"};
    }

    // Only the keys named are written, each as the table formats it.
    void save()
    {
        QFETCH(QList<SettingsKey>, keys);
        QFETCH(QStringList, stored);
        Settings settings;
        settings.commPort = QStringLiteral("/dev/ttyUSB1");
        settings.lineSettings = QStringLiteral("19200,E,7,2");
        settings.interval = 30;
        settings.intervalIndex = 1;
        MemorySettingsStore store;
        QString error;
        QVERIFY2(SettingsFile::save(settings, keys, store, &error), qPrintable(error));
        QStringList written;
        for (auto it = store.values.cbegin(); it != store.values.cend(); ++it)
            written << it.key() + QLatin1Char('=') + it.value();
        written.sort();
        stored.sort();
        QCOMPARE(written, stored);
    }

    void savedSettingsLoadBack()
    {
        writeSettings("; kept\n[Settings]\nCommPort=1\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        ProfileSettingsStore store(path());
        Settings settings = *SettingsFile::load(store).settings;
        settings.commPort = testDevice("/dev/ttyACM0");
        settings.interval = 720;
        QString error;
        QVERIFY2(SettingsFile::save(settings, {SettingsKey::CommPort, SettingsKey::Interval}, store,
                                    &error),
                 qPrintable(error));
        QCOMPARE(readFile(path()), "; kept\n[Settings]\nCommPort=" + settings.commPort.toUtf8() +
                                       "\nSetting=9600,N,8,1\n[Sync]\nInterval=720\n");
        QCOMPARE(*SettingsFile::load(store).settings, settings);
    }

    void failedSaveIsReported()
    {
        MemorySettingsStore store;
        store.storeFailure = QStringLiteral("The file \"x\" cannot be replaced: disk full.");
        QString error;
        QVERIFY(!SettingsFile::save(Settings(), {SettingsKey::Interval}, store, &error));
        QCOMPARE(error, store.storeFailure);
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
