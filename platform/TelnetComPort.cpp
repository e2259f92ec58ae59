#include "platform/TelnetComPort.h"

#include "core/Reason.h"

#include <algorithm>
#include <utility>

namespace {

// Telnet's commands (RFC 854) and the options the client speaks.
constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                        kSe = 240;
constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;
// RFC 2217's SET-BAUDRATE, -DATASIZE, -PARITY, -STOPSIZE and -CONTROL are 1 to 5; the
// server answers each with its number plus 100.
constexpr unsigned char kSetBaudRate = 1, kReplyOffset = 100;
constexpr int kSettings = 5;
// The codes of LineSettings' parities (None, Even, Odd, Mark, Space) and stop bits (One,
// OneAndHalf, Two), in the enums' order; SET-CONTROL's "no flow control".
constexpr unsigned char kParityCodes[] = {1, 3, 2, 4, 5};
constexpr unsigned char kStopSizeCodes[] = {1, 3, 2};
constexpr unsigned char kNoFlowControl = 1;

/// A setting's value as the settings file writes it, from its bytes in a request.
QString describe(int setting, const QByteArray &value)
{
    if (setting == 0 && value.size() == 4) {
        quint32 speed = 0;
        for (const char c : value)
            speed = speed << 8 | static_cast<unsigned char>(c);
        return QString::number(speed);
    }
    const int code = value.isEmpty() ? -1 : static_cast<unsigned char>(value.at(0));
    static const char *const parities[] = {"?", "N", "O", "E", "M", "S"};
    static const char *const stopSizes[] = {"?", "1", "2", "1.5"};
    static const char *const controls[] = {"?", "none", "XON/XOFF", "RTS/CTS"};
    if (setting == 2 && code >= 1 && code <= 5)
        return QLatin1String(parities[code]);
    if (setting == 3 && code >= 1 && code <= 3)
        return QLatin1String(stopSizes[code]);
    if (setting == 4 && code >= 1 && code <= 3)
        return QLatin1String(controls[code]);
    return QString::number(code);
}

} // namespace

QByteArray TelnetComPort::escape(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        out.append(c);
        if (static_cast<unsigned char>(c) == kIac)
            out.append(c);
    }
    return out;
}

QByteArray TelnetComPort::greeting()
{
    const unsigned char bytes[] = {kIac, kWill, kComPortOption, kIac, kWill, kBinary,
                                   kIac, kDo,   kBinary};
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

QByteArray TelnetComPort::requestLine()
{
    const auto baud = quint32(m_line.baudRate);
    const char baudBytes[] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    m_asked = {QByteArray(baudBytes, 4), QByteArray(1, char(m_line.dataBits)),
               QByteArray(1, char(kParityCodes[int(m_line.parity)])),
               QByteArray(1, char(kStopSizeCodes[int(m_line.stopBits)])),
               QByteArray(1, char(kNoFlowControl))};
    QByteArray out;
    for (int i = 0; i < kSettings; ++i)
        out.append(char(kIac))
            .append(char(kSb))
            .append(char(kComPortOption))
            .append(char(kSetBaudRate + i))
            .append(escape(m_asked[i]))
            .append(char(kIac))
            .append(char(kSe));
    return out;
}

QByteArray TelnetComPort::feed(const char *bytes, qsizetype size)
{
    QByteArray answer;
    for (qsizetype i = 0; i < size && m_failure.isEmpty(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        switch (m_parse) {
        case Parse::Data:
            if (c == kIac)
                m_parse = Parse::Command;
            break; // what the display sends back is not read
        case Parse::Command:
            if (c == kDo || c == kDont || c == kWill || c == kWont) {
                m_command = c;
                m_parse = Parse::Option;
            } else {
                m_sub.clear();
                m_parse = c == kSb ? Parse::Sub : Parse::Data; // else a doubled 0xFF, or NOP
            }
            break;
        case Parse::Option:
            onOption(m_command, c, &answer);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
        case Parse::SubCommand:
            if (m_parse == Parse::Sub && c == kIac) {
                m_parse = Parse::SubCommand;
                break;
            }
            if (m_parse == Parse::SubCommand && c == kSe) {
                onSubnegotiation();
                m_parse = Parse::Data;
                break;
            }
            // A byte of the value; IAC IAC is one 0xFF.
            m_parse = Parse::Sub;
            if (m_sub.size() == kMaxSubnegotiation)
                m_failure = Reason::text(
                    QT_TRANSLATE_NOOP("Reason", "the server sent a subnegotiation longer than %1 "
                                                "bytes; it does not speak RFC 2217"),
                    kMaxSubnegotiation);
            m_sub.append(char(c));
            break;
        }
    }
    return answer;
}

void TelnetComPort::onOption(unsigned char command, unsigned char option, QByteArray *answer)
{
    const auto say = [answer](unsigned char reply, unsigned char about) {
        answer->append(char(kIac)).append(char(reply)).append(char(about));
    };
    // The greeting said WILL and DO for what the client wants, so the server's DO and WILL
    // of those are answers, not asked again; everything else is refused, once per asking.
    switch (option) {
    case kComPortOption:
        if (command == kDo && !m_comPortAgreed) {
            m_comPortAgreed = true;
            answer->append(requestLine());
        } else if (command == kDont) {
            m_failure = Reason::text(
                QT_TRANSLATE_NOOP("Reason", "the server does not take line settings (RFC 2217); "
                                            "a raw TCP port is named socket://HOST:PORT"));
        } else if (command == kWill) {
            say(kDont, option); // the server's own use of it, as a client, is not wanted
        }
        return;
    case kBinary:
        if (command == kDo)
            m_binaryAgreed = true;
        else if (command == kDont)
            m_failure = Reason::text(
                QT_TRANSLATE_NOOP("Reason", "the server does not take binary data (RFC 856), "
                                            "which the display's frames are"));
        return; // what the server sends is not read, binary or not
    case kSuppressGoAhead:
        if (command == kDo && !std::exchange(m_sentSuppressGoAhead, true))
            say(kWill, option);
        else if (command == kWill && !std::exchange(m_askedSuppressGoAhead, true))
            say(kDo, option);
        return;
    default:
        if (command == kDo)
            say(kWont, option);
        else if (command == kWill)
            say(kDont, option);
        return;
    }
}

void TelnetComPort::onSubnegotiation()
{
    // The server's answer to a line setting; anything else (the line's and the modem's
    // state, a signature) is news the client does not use.
    if (m_sub.size() < 3 || static_cast<unsigned char>(m_sub.at(0)) != kComPortOption)
        return;
    const int setting = static_cast<unsigned char>(m_sub.at(1)) - kReplyOffset - kSetBaudRate;
    if (setting >= 0 && setting < kSettings)
        m_answered[size_t(setting)] = m_sub.mid(2);
}

TelnetComPort::State TelnetComPort::state() const
{
    if (!m_failure.isEmpty())
        return State::Failed;
    const bool lineAnswered = std::all_of(m_answered.begin(), m_answered.end(),
                                          [](const QByteArray &a) { return !a.isEmpty(); });
    return m_binaryAgreed && m_comPortAgreed && lineAnswered ? State::Ready : State::Negotiating;
}

QStringList TelnetComPort::differences() const
{
    static const char *const names[] = {"speed", "data bits", "parity", "stop bits",
                                        "flow control"};
    QStringList out;
    for (int i = 0; i < kSettings; ++i)
        if (!m_answered[size_t(i)].isEmpty() && m_answered[size_t(i)] != m_asked[size_t(i)])
            out << Reason::text(QT_TRANSLATE_NOOP("Reason", "%1 %2, not %3"),
                                QLatin1String(names[i]), describe(i, m_answered[size_t(i)]),
                                describe(i, m_asked[size_t(i)]));
    return out;
}
