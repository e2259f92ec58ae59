#pragma once

#include "core/LineSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

/// The client's side of a Telnet connection with the COM-PORT-OPTION of RFC 2217, bytes in
/// and bytes out; the network link carries them. It asks for binary transmission (RFC
/// 856) and to set the server's line; once the server agrees it sets the line: speed, data
/// size, parity, stop size and no flow control, as a local port is set. It refuses every
/// other option the server offers or asks for, except suppress-go-ahead, and checks the
/// server's answers.
///
/// A server that will not take line settings, will not take binary data (it could drop
/// the 00 after a 0D, and a frame holds both) or sends a subnegotiation longer than
/// kMaxSubnegotiation has failed, with the reason.
class TelnetComPort
{
public:
    enum class State {
        Negotiating, ///< the server has not yet agreed to everything asked
        Ready,       ///< binary transmission agreed and the line set
        Failed,      ///< see failure()
    };
    /// RFC 2217's subnegotiations are a few bytes, a server's signature a line of text.
    static constexpr int kMaxSubnegotiation = 1024;

    explicit TelnetComPort(const LineSettings &line) : m_line(line) {}

    /// `bytes` with each 0xFF doubled, as Telnet sends a data byte of that value.
    static QByteArray escape(const QByteArray &bytes);
    /// What the client says first: it will set the line, and asks for binary both ways.
    static QByteArray greeting();

    /// Reads what the server sent; returns what the client answers.
    QByteArray feed(const char *bytes, qsizetype size);
    QByteArray feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

    State state() const;
    /// Why the server cannot be used; empty unless Failed.
    QString failure() const { return m_failure; }
    /// The line settings the server set otherwise than asked, one text each
    /// ("parity E, not N"); empty when it set them all as asked.
    QStringList differences() const;

private:
    void onOption(unsigned char command, unsigned char option, QByteArray *answer);
    void onSubnegotiation();
    QByteArray requestLine();

    enum class Parse { Data, Command, Option, Sub, SubCommand } m_parse = Parse::Data;
    LineSettings m_line;
    unsigned char m_command = 0;
    QByteArray m_sub;
    bool m_comPortAgreed = false;
    bool m_binaryAgreed = false;
    bool m_sentSuppressGoAhead = false; ///< WILL, answered once
    bool m_askedSuppressGoAhead = false; ///< DO, answered once
    QString m_failure;
    /// The values asked for and answered: speed, data size, parity, stop size, control.
    std::array<QByteArray, 5> m_asked;
    std::array<QByteArray, 5> m_answered;
};
