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

    /// The Telnet stream of an RFC 2217 connection, both ways: the data escaped, the
    /// server's option negotiation answered, its replies to the line settings collected.
    class Telnet
    {
    public:
        static constexpr unsigned char kComPortOption = 44;
        /// `bytes` with each 0xFF doubled, as Telnet sends a data byte of that value.
        static QByteArray escape(const QByteArray &bytes);
        /// What the client says first: it will set the line, and asks for binary both ways.
        static QByteArray greeting();
        /// The four requests that set the line to `settings`.
        static QByteArray lineRequests(const LineSettings &settings);
        /// Reads what the server sent; returns what is to be answered.
        QByteArray feed(const QByteArray &bytes);
        /// The server agreed to line settings through RFC 2217 (it said DO COM-PORT-OPTION).
        bool comPortAgreed() const { return m_comPortAgreed; }
        /// The server refused them (DONT COM-PORT-OPTION).
        bool comPortRefused() const { return m_comPortRefused; }
        /// How many of the four line settings the server has confirmed, and the values.
        int linesConfirmed() const { return m_confirmed; }
        LineSettings confirmedLine() const { return m_line; }

    private:
        void subnegotiation(const QByteArray &sb);
        enum class State { Data, Command, Option, Sub, SubCommand } m_state = State::Data;
        unsigned char m_command = 0;
        QByteArray m_sub;
        bool m_comPortAgreed = false;
        bool m_comPortRefused = false;
        int m_confirmed = 0;
        LineSettings m_line;
    };

private:
    struct Attempt;
    void adopt(int fd, const QString &device, bool telnet);
    void readIncoming();
    bool sendAll(const QByteArray &bytes, int timeoutMs, QString *reason);

    QObject m_context; ///< where the connecting thread's news and the socket's events arrive
    std::shared_ptr<Attempt> m_attempt;
    std::function<void(const QString &)> m_onHangUp;
    std::function<void()> m_onReady;
    int m_fd = -1;
    QString m_device;
    bool m_telnet = false;
    Telnet m_stream;
    std::mutex m_sending; ///< the writer's frames and the answers to the server
    QSocketNotifier *m_incoming = nullptr;
};
