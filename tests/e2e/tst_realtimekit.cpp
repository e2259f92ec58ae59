// The windowed program of a desktop user, who may not set real-time priority, asking the
// real RealtimeKit daemon on a system bus of the test's own. RealtimeKit asks polkit
// whether the user may; the test answers in polkit's place, so that both answers are tried
// without rules written into the machine's /etc.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <sched.h>
#include <unistd.h>

namespace {

const QString kRealtimeKit = QStringLiteral("/usr/libexec/rtkit-daemon");

/// polkit's authority, answering every check with `allow`.
class Authority : public QDBusVirtualObject
{
public:
    bool allow = true;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("CheckAuthorization"))
            return false;
        QDBusArgument result; // (bba{ss}): authorised, a challenge, details
        result.beginStructure();
        result << allow << false << QMap<QString, QString>();
        result.endStructure();
        return connection.send(message.createReply(QVariant::fromValue(result)));
    }
    QString introspect(const QString &) const override { return {}; }
};

/// How many threads of process `pid` run at a real-time policy.
int realTimeThreads(qint64 pid)
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += (::sched_getscheduler(tid.toInt()) & ~SCHED_RESET_ON_FORK) != SCHED_OTHER;
    return count;
}

} // namespace

class tst_RealtimeKit : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; ///< readable by the user: the bus's socket, the program, its settings
    QProcessEnvironment m_onTheBus = QProcessEnvironment::systemEnvironment();
    QProcess m_bus;
    QProcess m_realtimeKit;
    Authority m_authority;
    const passwd *m_user = nullptr;

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("RealtimeKit's daemon runs as root");
        QVERIFY2(QFileInfo(kRealtimeKit).isExecutable(),
                 "no rtkit-daemon (scripts/setup installs rtkit)");
        // A desktop user with an entry in the user database, as the bus asks for one.
        m_user = getpwnam("nobody");
        QVERIFY(m_user);
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
        const QString socket = m_dir.filePath(QStringLiteral("system_bus_socket"));
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>system</type><listen>unix:path=" + socket.toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                     "<allow receive_sender=\"*\"/></policy></busconfig>");
        config.close();
        m_bus.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--nofork"), QStringLiteral("--config-file"), config.fileName()});
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10000);

        QDBusConnection bus = QDBusConnection::connectToBus(QStringLiteral("unix:path=") + socket,
                                                            QStringLiteral("own"));
        QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1")));
        QVERIFY(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                                          &m_authority));

        m_onTheBus.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                          QStringLiteral("unix:path=") + socket);
        m_realtimeKit.setProcessEnvironment(m_onTheBus);
        m_realtimeKit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Not limited to its own few threads: a machine may run its own RealtimeKit as the
        // same user.
        m_realtimeKit.start(kRealtimeKit,
                            {QStringLiteral("--stderr"), QStringLiteral("--no-limit-resources")});
        QVERIFY(m_realtimeKit.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.RealtimeKit1")),
            10000);

        const QString program = m_dir.filePath(QStringLiteral("orvantide"));
        QVERIFY(QFile::copy(qEnvironmentVariable("ORVANTIDE_BIN"), program));
        QFile settings(m_dir.filePath(QStringLiteral("orvtide.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nCommPort=" + m_dir.filePath("no-display").toUtf8() +
                       "\nSetting=9600,N,8,1\n[Sync]\nInterval=60\n");
        settings.close();
        QVERIFY(settings.setPermissions(settings.permissions() | QFile::ReadOther));
    }

    void cleanupTestCase()
    {
        m_realtimeKit.kill();
        m_realtimeKit.waitForFinished();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // The thread that writes the frames, and only it, runs at the policy RealtimeKit
    // chose, and the log says which; a refusal is said with RealtimeKit's reason.
    void theWriterAsksRealtimeKit_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("realTimeThreadCount");
        QTest::newRow("allowed")
            << true << "frames are written at real-time priority (SCHED_RR 20 through RealtimeKit)"
            << 1;
        QTest::newRow("refused") << false << "RealtimeKit: Operation not permitted" << 0;
    }

    void theWriterAsksRealtimeKit()
    {
        QFETCH(bool, allow);
        QFETCH(QString, logged);
        QFETCH(int, realTimeThreadCount);
        m_authority.allow = allow;
        QProcess program;
        QProcessEnvironment env = m_onTheBus;
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvantide.sync.info=true"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(m_user->pw_uid),
                                                  QStringLiteral("--regid=%1").arg(m_user->pw_gid),
                                                  QStringLiteral("--clear-groups"),
                                                  m_dir.filePath(QStringLiteral("orvantide"))});
        QVERIFY(program.waitForStarted());
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += program.readAllStandardError()).contains("frames are written"), 20000);
        QVERIFY2(log.contains(logged.toUtf8()), log.constData());
        QCOMPARE(realTimeThreads(program.processId()), realTimeThreadCount);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(tst_RealtimeKit)
#include "tst_realtimekit.moc"
