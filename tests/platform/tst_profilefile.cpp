#include "platform/ProfileFile.h"
#include "platform/SafeFile.h"
#include "platform/SerialPorts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

/// `text` as Notepad saves "Unicode": UTF-16 LE after its byte-order mark.
QByteArray utf16(const QString &text)
{
    return QByteArray("\xFF\xFE") +
           QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

} // namespace

class tst_ProfileFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QByteArray &bytes)
    {
        static int n = 0;
        const QString path = m_dir.filePath(QStringLiteral("p%1.ini").arg(++n));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

#ifdef Q_OS_UNIX
    // The largest file read, made of line ends only, is read and saved in memory of about
    // its own size: nothing is kept or made per line. First of the tests, while the
    // process's peak is still low.
    void aFileOfLineEndsCostsItsSize()
    {
        const QString path = writeFile("[Sync]\r\nInterval=30\r\n" +
                                       QByteArray(SafeFile::kMaxSize - 64, '\n'));
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        ProfileSettingsStore store(path);
        QString reason;
        QVERIFY(store.load(&reason));
        QCOMPARE(store.value(QStringLiteral("Sync"), QStringLiteral("Interval")), QStringLiteral("30"));
        QCOMPARE(store.value(QStringLiteral("Settings"), QStringLiteral("CommPort")), QString());
        QVERIFY(store.store(QStringLiteral("Settings"), QStringLiteral("CommPort"),
                            QStringLiteral("2"), &reason));
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const long grownKiB = after.ru_maxrss - before.ru_maxrss;
        QVERIFY2(grownKiB < 16 * 1024, qPrintable(QString::number(grownKiB)));
        QVERIFY(contents(path).endsWith("\n[Settings]\r\nCommPort=2\r\n"));
    }
#endif

    void read_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QByteArray plain("[Settings]\r\nCommPort=3\r\nSetting=9600,N,8,1\r\n");
        QTest::newRow("plain") << plain << "Settings"
                               << "CommPort"
                               << "3";
        QTest::newRow("commas stay") << plain << "Settings"
                                     << "Setting"
                                     << "9600,N,8,1";
        QTest::newRow("names ignore case") << plain << "SETTINGS"
                                           << "commport"
                                           << "3";
        QTest::newRow("missing key") << plain << "Settings"
                                     << "Interval"
                                     << "";
        QTest::newRow("missing section") << plain << "Sync"
                                         << "CommPort"
                                         << "";
        QTest::newRow("empty value") << QByteArray("[S]\nk=\n") << "S"
                                     << "k"
                                     << "";
        QTest::newRow("blanks around") << QByteArray("[ S ]\n \t k \t= \t v w \t\n") << "S"
                                       << "k"
                                       << "v w";
        QTest::newRow("double quotes") << QByteArray("[S]\nk=\" v \"\n") << "S"
                                       << "k"
                                       << " v ";
        QTest::newRow("single quotes") << QByteArray("[S]\nk='v'\n") << "S"
                                       << "k"
                                       << "v";
        QTest::newRow("unmatched quotes stay") << QByteArray("[S]\nk=\"v'\n") << "S"
                                               << "k"
                                               << "\"v'";
        QTest::newRow("one quote stays") << QByteArray("[S]\nk=\"\n") << "S"
                                         << "k"
                                         << "\"";
        QTest::newRow("comment line") << QByteArray("[S]\n;k=1\nk=2\n") << "S"
                                      << "k"
                                      << "2";
        QTest::newRow("indented comment") << QByteArray("[S]\n  ;k=1\n") << "S"
                                          << "k"
                                          << "";
        QTest::newRow("semicolon in value") << QByteArray("[S]\nk=a;b\n") << "S"
                                            << "k"
                                            << "a;b";
        QTest::newRow("hash is ordinary") << QByteArray("[S]\n#k=1\nk=2\n") << "S"
                                          << "#k"
                                          << "1";
        QTest::newRow("first key wins") << QByteArray("[S]\nk=1\nk=2\n") << "S"
                                        << "k"
                                        << "1";
        QTest::newRow("first section only") << QByteArray("[S]\na=1\n[T]\n[s]\nk=2\n") << "S"
                                            << "k"
                                            << "";
        QTest::newRow("line without equals") << QByteArray("[S]\nk\nk=5\n") << "S"
                                             << "k"
                                             << "5";
        QTest::newRow("before any section") << QByteArray("k=1\n[S]\n") << "S"
                                            << "k"
                                            << "";
        QTest::newRow("LF") << QByteArray("[S]\nk=1\n") << "S"
                            << "k"
                            << "1";
        QTest::newRow("CR") << QByteArray("[S]\rj=0\rk=1\r") << "S"
                            << "k"
                            << "1";
        QTest::newRow("no final line end") << QByteArray("[S]\r\nk=1") << "S"
                                           << "k"
                                           << "1";
        QTest::newRow("UTF-8 BOM") << QByteArray("\xEF\xBB\xBF[S]\nk=1\n") << "S"
                                   << "k"
                                   << "1";
        QTest::newRow("UTF-16 LE with BOM")
            << utf16(QStringLiteral("[S]\r\nk=caf\u00e9 1\r\n")) << "S"
            << "k" << QStringLiteral("caf\u00e9 1");
        QTest::newRow("first equals splits") << QByteArray("[S]\nk=a=b\n") << "S"
                                             << "k"
                                             << "a=b";
        QTest::newRow("300 characters cut to 254")
            << QByteArray("[S]\nk=" + QByteArray(300, 'x') + "\n") << "S"
            << "k" << QString(254, QLatin1Char('x'));
    }

    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(ProfileFile::readString(writeFile(file), section, key), expected);
    }

    void readMissingFile()
    {
        QCOMPARE(ProfileFile::readString(m_dir.filePath(QStringLiteral("none.ini")),
                                         QStringLiteral("S"), QStringLiteral("k")),
                 QString());
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        const QByteArray delivered("; delivered with the program\r\n"
                                   "[Settings]\r\n"
                                   "  CommPort = 1   \r\n"
                                   "Setting=9600,N,8,1\r\n"
                                   "\r\n"
                                   "; the sync section\r\n"
                                   "[Sync]\r\n"
                                   "Interval=60\r\n");
        QTest::newRow("existing key: only its value changes")
            << delivered << "settings"
            << "commport"
            << "4"
            << QByteArray("; delivered with the program\r\n"
                          "[Settings]\r\n"
                          "CommPort=4\r\n"
                          "Setting=9600,N,8,1\r\n"
                          "\r\n"
                          "; the sync section\r\n"
                          "[Sync]\r\n"
                          "Interval=60\r\n");
        QTest::newRow("new key after the last key, before closing comments")
            << delivered << "Settings"
            << "SyncInt"
            << "2"
            << QByteArray("; delivered with the program\r\n"
                          "[Settings]\r\n"
                          "  CommPort = 1   \r\n"
                          "Setting=9600,N,8,1\r\n"
                          "SyncInt=2\r\n"
                          "\r\n"
                          "; the sync section\r\n"
                          "[Sync]\r\n"
                          "Interval=60\r\n");
        QTest::newRow("new section at the end")
            << QByteArray("[Sync]\nInterval=60\n") << "Settings"
            << "SyncInt"
            << "-1" << QByteArray("[Sync]\nInterval=60\n[Settings]\nSyncInt=-1\n");
        QTest::newRow("new section after a last line without line end")
            << QByteArray("[Sync]\r\nInterval=60") << "Settings"
            << "CommPort"
            << "2" << QByteArray("[Sync]\r\nInterval=60\r\n[Settings]\r\nCommPort=2\r\n");
        QTest::newRow("new key after a last line without line end")
            << QByteArray("[S]\na=1") << "S"
            << "b"
            << "2" << QByteArray("[S]\na=1\nb=2");
        QTest::newRow("new key in a section without keys")
            << QByteArray("[S]\r\n; note\r\n[T]\r\n") << "S"
            << "k"
            << "v" << QByteArray("[S]\r\nk=v\r\n; note\r\n[T]\r\n");
        QTest::newRow("new file uses CR LF") << QByteArray() << "Sync"
                                             << "Interval"
                                             << "30" << QByteArray("[Sync]\r\nInterval=30\r\n");
        QTest::newRow("CR file keeps CR") << QByteArray("[S]\ra=1\r") << "S"
                                          << "b"
                                          << "2" << QByteArray("[S]\ra=1\rb=2\r");
        QTest::newRow("only the first section of a name")
            << QByteArray("[S]\na=1\n[S]\nk=old\n") << "S"
            << "k"
            << "new" << QByteArray("[S]\na=1\nk=new\n[S]\nk=old\n");
        QTest::newRow("BOM kept") << QByteArray("\xEF\xBB\xBF[S]\nk=1\n") << "S"
                                  << "k"
                                  << "2" << QByteArray("\xEF\xBB\xBF[S]\nk=2\n");
        QTest::newRow("commented-out key is not the key") << QByteArray("[S]\n;k=1\n") << "S"
                                                          << "k"
                                                          << "2" << QByteArray("[S]\nk=2\n;k=1\n");
        QTest::newRow("empty value") << QByteArray("[S]\nk=1\n") << "S"
                                     << "k"
                                     << "" << QByteArray("[S]\nk=\n");
        QTest::newRow("UTF-16 LE stays UTF-16 LE")
            << utf16(QStringLiteral("[S]\r\nk=1\r\n")) << "S"
            << "k" << QStringLiteral("\u00e9") << utf16(QStringLiteral("[S]\r\nk=\u00e9\r\n"));
        QTest::newRow("replaced on a last line without line end: gets the file's")
            << QByteArray("[S]\r\nk=1") << "S"
            << "k"
            << "2" << QByteArray("[S]\r\nk=2\r\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);

        const QString path =
            before.isEmpty() ? m_dir.filePath(QStringLiteral("new.ini")) : writeFile(before);
        QFile::remove(m_dir.filePath(QStringLiteral("new.ini")));
        QString error;
        QVERIFY2(ProfileFile::writeString(path, section, key, value, &error), qPrintable(error));
        QCOMPARE(contents(path), after);
        QCOMPARE(ProfileFile::readString(path, section, key), value);
    }

    void refusesWhatCannotReadBack_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("LF in value") << "S"
                                     << "k"
                                     << "1\nk2=2";
        QTest::newRow("CR in value") << "S"
                                     << "k"
                                     << "1\r";
        QTest::newRow("NUL in value")
            << "S"
            << "k" << QString(QStringLiteral("/dev/pts/1") + QChar(0) + "x");
        QTest::newRow("tab in value") << "S"
                                      << "k"
                                      << "/dev/tty\tS0";
        QTest::newRow("form feed in value") << "S"
                                            << "k"
                                            << "9600,N,8,1\f";
        QTest::newRow("escape in value") << "S"
                                         << "k"
                                         << "\x1b[31m1";
        QTest::newRow("line break in key") << "S"
                                           << "k\n[X]"
                                           << "1";
        QTest::newRow("line break in section") << "S]\n[T"
                                               << "k"
                                               << "1";
        QTest::newRow("equals in key") << "S"
                                       << "a=b"
                                       << "1";
        QTest::newRow("empty key") << "S"
                                   << ""
                                   << "1";
        QTest::newRow("empty section") << ""
                                       << "k"
                                       << "1";
    }

    void refusesWhatCannotReadBack()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray before("[S]\r\nk=0\r\n");
        const QString path = writeFile(before);
        QString error;
        QVERIFY(!ProfileFile::writeString(path, section, key, value, &error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QCOMPARE(contents(path), before);
    }

    // A file where the folder should be: the write cannot happen and must say so.
    void failedWriteIsReported()
    {
        const QString notAFolder = writeFile("x");
        const QString path = notAFolder + QStringLiteral("/orvtide.ini");
        QString error;
        QVERIFY(!ProfileFile::writeString(path, QStringLiteral("S"), QStringLiteral("k"),
                                          QStringLiteral("1"), &error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QCOMPARE(contents(notAFolder), QByteArray("x"));
    }

    // A settings file that is a link (the Debian package links it to /etc): the target is
    // replaced, the link stays, and the file keeps its mode.
    void writeThroughALink()
    {
#ifdef Q_OS_WIN
        QSKIP("the settings file is linked to /etc by the Debian package only");
#endif
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("etc"));
        const QString target = dir.filePath(QStringLiteral("etc/orvtide.ini"));
        const QString link = dir.filePath(QStringLiteral("orvtide.ini"));
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Sync]\r\nInterval=60\r\n");
        file.close();
        const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                        QFile::WriteGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(target, mode));
        QVERIFY(QFile::link(target, link));

        QString error;
        QVERIFY2(ProfileFile::writeString(link, QStringLiteral("Sync"), QStringLiteral("Interval"),
                                          QStringLiteral("30"), &error),
                 qPrintable(error));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contents(target), QByteArray("[Sync]\r\nInterval=30\r\n"));
        QCOMPARE(QFile::permissions(target) & ~(QFile::ReadUser | QFile::WriteUser),
                 mode & ~(QFile::ReadUser | QFile::WriteUser));
        QCOMPARE(QDir(dir.filePath("etc")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("orvtide.ini")});
        // A refusal names the file the user would edit, not the link.
        QVERIFY(!ProfileFile::writeString(link, QStringLiteral("Sync"), QStringLiteral("Interval"),
                                          QStringLiteral("3\n0"), &error));
        QVERIFY2(error.contains(QStringLiteral("\"%1\"").arg(QFileInfo(target).canonicalFilePath())),
                 qPrintable(error));
    }

    // The replacement is atomic: no temporary file is left beside the settings file.
    void writeLeavesNoTemporaryFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orvtide.ini"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(ProfileFile::writeString(path, QStringLiteral("S"), QStringLiteral("k"),
                                             QString::number(i)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("orvtide.ini")});
    }
};

QTEST_GUILESS_MAIN(tst_ProfileFile)
#include "tst_profilefile.moc"
