#pragma once
// ser2net, the serial device server, on the loopback: one connection from a TCP port of
// its own to a device, as RFC 2217 or as a raw TCP stream.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

/// ser2net with one connection from 127.0.0.1:`port` to `device`, at 9600,N,8,1 unless
/// a client sets the line.
struct Ser2net
{
    QTemporaryDir dir;
    QProcess process;
    quint16 port = freePort();

    bool start(const QString &device, bool rfc2217)
    {
        QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("connection: &display\n"
                                    "  accepter: %1tcp,127.0.0.1,%2\n"
                                    "  connector: serialdev,%3,9600n81,local\n")
                         .arg(rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                         .arg(port)
                         .arg(device)
                         .toUtf8());
        config.close();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                                               {QStringLiteral("/usr/sbin")});
        if (program.isEmpty())
            qFatal("ser2net is missing: scripts/setup installs it");
        process.start(program, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                                config.fileName()});
        if (!process.waitForStarted())
            return false;
        // Ready once it accepts; the probe leaves at once.
        for (int i = 0; i < 500 && process.state() == QProcess::Running; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(10);
        }
        return false;
    }
    void kill()
    {
        process.kill();
        process.waitForFinished();
    }
    ~Ser2net() { kill(); }
};

