#pragma once

#include "core/SerialLink.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <mutex>

class QSocketNotifier;
class TelnetComPort;

/// A serial port on a device server of the network (Linux): rfc2217://HOST:PORT, Telnet
/// with the COM-PORT-OPTION of RFC 2217, through which the line settings are set on the
/// server's port; or socket://HOST:PORT, the bytes alone.
///
/// The name lookup, the connection and the negotiation run on a thread of their own, and
/// open() waits for them at most kOpenWaitMs: neither a slow name server nor a host that
/// does not answer holds the window. When they end later, or a name lookup outlives
/// kConnectTimeoutMs, the ready handler is called, and the next open() tells the outcome.
/// While an attempt goes on, open() gives the last attempt's reason, so that a server
/// that stays away has one reason, not two that alternate.
///
/// A connection the server ends or loses is a hang-up; so is a server that sends more in
/// a second than twice what its line carries, or breaks Telnet's rules.
class NetworkSerialLink : public SerialLink
{
public:
    /// How long open() waits for a connection; a server on the LAN answers well within it.
    static constexpr int kOpenWaitMs = 100;
    /// How long a connection and its negotiation may take before the attempt is given up.
    static constexpr int kConnectTimeoutMs = 3000;
    /// The most a server may send before it has agreed the line settings; RFC 2217's
    /// negotiation is some tens of bytes.
    static constexpr int kNegotiationBytes = 65536;

    NetworkSerialLink();
    ~NetworkSerialLink() override;

    bool open(const QString &device, const LineSettings &settings, QString *error) override;
    bool isOpen() const override;
    bool write(const QByteArray &bytes, QString *error) override;
    Started startWrite(const QByteArray &bytes, QString *error) override;
    bool finishWrite(QString *error) override;
    void close() override;
    void setHangUpHandler(std::function<void(const QString &reason)> onHangUp) override;
    void setReadyHandler(std::function<void()> onReady) override;

private:
    struct Attempt;
    void letAttemptGo();
    void rememberFailure(const QString &device, const LineSettings &line, const QString &reason);
    void readIncoming();
    bool sendAll(const QByteArray &bytes, int timeoutMs, QString *reason);
    /// sendAll() within 0.5 s, a failure said as the write's.
    bool sendAllOrSay(const QByteArray &sent, QString *error);

    QObject m_context; ///< where the connecting thread's news and the socket's events arrive
    std::shared_ptr<Attempt> m_attempt;
    std::function<void(const QString &)> m_onHangUp;
    std::function<void()> m_onReady;
    int m_fd = -1;
    QString m_device;
    std::unique_ptr<TelnetComPort> m_telnet; ///< the connection's Telnet; none for socket://
    QString m_lastFailure; ///< why the last attempt for m_failedDevice and m_failedLine failed
    QString m_failedDevice;
    LineSettings m_failedLine;
    qint64 m_floodBytesPerSecond = 0;
    qint64 m_receivedThisSecond = 0;
    std::chrono::steady_clock::time_point m_secondStart;
    std::mutex m_sending; ///< the writer's frames and the answers to the server
    QByteArray m_rest;    ///< what startWrite() left for finishWrite(), as sent
    QSocketNotifier *m_incoming = nullptr;
};
