#include "platform/LineSettings.h"

#include <QStringList>

namespace {

bool fail(const QString &text, const QString &why, QString *error)
{
    if (error)
        *error = QStringLiteral("the line settings \"%1\" are not valid: %2").arg(text, why);
    return false;
}

} // namespace

bool LineSettings::parse(const QString &text, LineSettings *settings, QString *error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return fail(text,
                    QStringLiteral("expected baud,parity,data bits,stop bits such as 9600,N,8,1"),
                    error);
    LineSettings s;

    const QString baud = fields.at(0).trimmed();
    bool ok = false;
    const qlonglong rate = baud.toLongLong(&ok);
    if (!ok || baud.startsWith(QLatin1Char('+')) || rate <= 0 || rate > 100'000'000)
        return fail(text, QStringLiteral("\"%1\" is not a baud rate").arg(baud), error);
    s.baudRate = qint32(rate);

    const QString parity = fields.at(1).trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        s.parity = QSerialPort::SpaceParity;
    else
        return fail(text, QStringLiteral("parity must be N, E, O, M or S"), error);

    const QString data = fields.at(2).trimmed();
    if (data == QLatin1String("5"))
        s.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6"))
        s.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7"))
        s.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8"))
        s.dataBits = QSerialPort::Data8;
    else
        return fail(text, QStringLiteral("data bits must be 5, 6, 7 or 8"), error);

    const QString stop = fields.at(3).trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return fail(text, QStringLiteral("stop bits must be 1, 1.5 or 2"), error);

    if (settings)
        *settings = s;
    return true;
}

double LineSettings::bitsPerCharacter() const
{
    const double stop = stopBits == QSerialPort::OneStop          ? 1.0
                        : stopBits == QSerialPort::OneAndHalfStop ? 1.5
                                                                  : 2.0;
    const double parityBit = parity == QSerialPort::NoParity ? 0.0 : 1.0;
    return 1.0 + int(dataBits) + parityBit + stop;
}
