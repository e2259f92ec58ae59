#pragma once
// ser2net, the serial device server, on the loopback: one connection from a TCP port of
// its own to a device, as RFC 2217 or as a raw TCP stream. The tests and the benchmark
// share it.

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

/// ser2net with one connection from 127.0.0.1:`port` to a device, at 9600,N,8,1 unless a
/// client sets the line.
struct Ser2net
{
    QProcess process;
    quint16 port = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }();

    /// Starts it for `device`; true once it takes connections.
    bool start(const QString &device, bool rfc2217)
    {
        // -Y takes the configuration itself, '#' standing for a new line.
        process.start(QStringLiteral("/usr/sbin/ser2net"),
                      {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-Y"),
                       QStringLiteral("connection: &display#  accepter: %1tcp,127.0.0.1,%2#"
                                      "  connector: serialdev,%3,9600n81,local")
                           .arg(rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                           .arg(port)
                           .arg(device)});
        if (!process.waitForStarted())
            return false;
        for (int i = 0; i < 500 && process.state() == QProcess::Running; ++i) {
            QTcpSocket probe; // leaves at once
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return true;
            QThread::msleep(10);
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
