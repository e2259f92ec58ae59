// The windowed program of a desktop user, who may not set real-time priority, asking the
// real RealtimeKit daemon on a system bus of the test's own. RealtimeKit asks polkit
// whether the user may; the test answers in polkit's place, so that both answers are tried
// without rules written into the machine's /etc.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <unistd.h>

namespace {

/// polkit's authority, answering every check with `allow`.
class Authority : public QDBusVirtualObject
{
public:
    bool allow = true;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QDBusArgument result; // (bba{ss}): authorised, a challenge, details
        result.beginStructure();
        result << allow << false << QMap<QString, QString>();
        result.endStructure();
        return connection.send(message.createReply(QVariant::fromValue(result)));
    }
    QString introspect(const QString &) const override { return {}; }
};

} // namespace

class tst_RealtimeKit : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; ///< open to the user: the bus's socket, the program, its settings
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_bus;
    QProcess m_realtimeKit;
    Authority m_authority;

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("RealtimeKit's daemon runs as root");
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
        const QString address = QStringLiteral("unix:path=") + m_dir.filePath("bus");
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>system</type><listen>" + address.toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                     "<allow own=\"*\"/><allow send_destination=\"*\"/>"
                     "<allow receive_sender=\"*\"/></policy></busconfig>");
        config.close();
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {"--nofork", "--config-file", config.fileName()});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath("bus")), 10000);
        QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("own"));
        QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1")));
        QVERIFY(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                                          &m_authority));

        m_env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        m_env.insert(QStringLiteral("QT_LOGGING_RULES"),
                     QStringLiteral("orvantide.sync.info=true"));
        m_realtimeKit.setProcessEnvironment(m_env);
        m_realtimeKit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Not limited to its own few threads: a machine may run its own RealtimeKit as the
        // same user. scripts/setup installs it.
        m_realtimeKit.start(QStringLiteral("/usr/libexec/rtkit-daemon"),
                            {"--stderr", "--no-limit-resources"});
        QTRY_VERIFY_WITH_TIMEOUT(
            bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.RealtimeKit1")),
            10000);

        // The program beside its settings, where the user may run and read them.
        QVERIFY(QFile::copy(qEnvironmentVariable("ORVANTIDE_BIN"), m_dir.filePath("orvantide")));
        QFile settings(m_dir.filePath(QStringLiteral("orvtide.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(
            "[Settings]\nCommPort=/nonexistent\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        QVERIFY(settings.setPermissions(settings.permissions() | QFile::ReadOther));
    }

    void cleanupTestCase()
    {
        for (QProcess *daemon : {&m_realtimeKit, &m_bus}) {
            daemon->kill();
            daemon->waitForFinished();
        }
    }

    // The thread that writes the frames, and only it, runs at the policy RealtimeKit
    // chose, and the log says which; a refusal is said with RealtimeKit's reason.
    void theWriterAsksRealtimeKit_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("realTimeThreads");
        QTest::newRow("allowed")
            << true << "frames are written at real-time priority (SCHED_RR 20 through RealtimeKit)"
            << 1;
        QTest::newRow("refused") << false << "RealtimeKit: Operation not permitted" << 0;
    }

    void theWriterAsksRealtimeKit()
    {
        QFETCH(bool, allow);
        QFETCH(QString, logged);
        QFETCH(int, realTimeThreads);
        m_authority.allow = allow;
        QProcess program;
        program.setProcessEnvironment(m_env);
        // A user with an entry in the user database, as the bus asks for one.
        program.start(QStringLiteral("setpriv"), {"--reuid=nobody", "--regid=nogroup",
                                                  "--clear-groups", m_dir.filePath("orvantide")});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += program.readAllStandardError()).contains("frames are written"), 20000);
        QVERIFY2(log.contains(logged.toUtf8()), log.constData());
        int found = 0;
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(program.processId()));
        for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            found += (::sched_getscheduler(tid.toInt()) & ~SCHED_RESET_ON_FORK) != SCHED_OTHER;
        QCOMPARE(found, realTimeThreads);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(tst_RealtimeKit)
#include "tst_realtimekit.moc"
