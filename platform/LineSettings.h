#pragma once

#include <QSerialPort>
#include <QString>

/// Serial line settings in the text form "baud,parity,data,stop", for example
/// "9600,N,8,1": parity N, E, O, M or S in either case, data bits 5 to 8, stop bits 1,
/// 1.5 or 2.
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    /// Parses `text`. Returns false with a reason that quotes the text when it does not parse.
    static bool parse(const QString &text, LineSettings *settings, QString *error);

    /// Bits one character takes on the line: start bit, data bits, parity bit, stop bits.
    double bitsPerCharacter() const;
};
