#pragma once

#include "core/SerialLink.h"

#include <QObject>

#include <memory>
#include <mutex>

class QSocketNotifier;

/// A serial port on a device server of the network (Linux): rfc2217://HOST:PORT, Telnet
/// with the COM-PORT-OPTION of RFC 2217, through which the line settings are set on the
/// server's port; or socket://HOST:PORT, the bytes alone.
///
/// The name lookup, the connection and the negotiation run on a thread of their own, and
/// open() waits for them at most kOpenWaitMs: neither a slow name server nor a host that
/// does not answer holds the window. When they finish later, the ready handler tells that
/// the port may be opened now. A connection the server ends or loses is a hang-up.
class NetworkSerialLink : public SerialLink
{
public:
    /// How long open() waits for a connection; a server on the LAN answers well within it.
    static constexpr int kOpenWaitMs = 100;
    /// How long a connection and its negotiation may take before the attempt is given up.
    static constexpr int kConnectTimeoutMs = 3000;

    NetworkSerialLink();
    ~NetworkSerialLink() override;

    bool open(const QString &device, const LineSettings &settings, QString *error) override;
    bool isOpen() const override;
    bool write(const QByteArray &bytes, QString *error) override;
    void close() override;
    void setHangUpHandler(std::function<void(const QString &reason)> onHangUp) override;
    void setReadyHandler(std::function<void()> onReady) override;

private:
    class Telnet;
    struct Attempt;
    void readIncoming();
    bool sendAll(const QByteArray &bytes, int timeoutMs, QString *reason);

    QObject m_context; ///< where the connecting thread's news and the socket's events arrive
    std::shared_ptr<Attempt> m_attempt;
    std::function<void(const QString &)> m_onHangUp;
    std::function<void()> m_onReady;
    int m_fd = -1;
    QString m_device;
    std::unique_ptr<Telnet> m_telnet; ///< the connection's Telnet stream; none for socket://
    std::mutex m_sending; ///< the writer's frames and the answers to the server
    QSocketNotifier *m_incoming = nullptr;
};
