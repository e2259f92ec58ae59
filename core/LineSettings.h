#pragma once

#include <QString>

/// Serial line settings in the text form "baud,parity,data,stop", for example
/// "9600,N,8,1": parity N, E, O, M or S in either case, data bits 5 to 8, stop bits 1,
/// 1.5 or 2.
struct LineSettings
{
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    /// Parses `text`. Returns false with a reason that quotes the text when it does not parse.
    static bool parse(const QString &text, LineSettings *settings, QString *error);

    /// Bits one character takes on the line: start bit, data bits, parity bit, stop bits.
    double bitsPerCharacter() const;
    /// Nanoseconds `bytes` take on the line.
    qint64 lineTimeNs(qsizetype bytes) const;

    bool operator==(const LineSettings &other) const
    {
        return baudRate == other.baudRate && parity == other.parity &&
               dataBits == other.dataBits && stopBits == other.stopBits;
    }
    bool operator!=(const LineSettings &other) const { return !(*this == other); }
};
