#include "core/LineSettings.h"

#include "core/Reason.h"

#include "core/SerialLink.h"

#include <QStringList>

namespace {

bool fail(const QString &text, const QString &why, QString *error)
{
    if (error)
        *error = Reason::text(
            QT_TRANSLATE_NOOP("Reason", "the line settings \"%1\" are not valid: %2"), text, why);
    return false;
}

} // namespace

bool LineSettings::parse(const QString &text, LineSettings *settings, QString *error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return fail(text,
                    Reason::text(QT_TRANSLATE_NOOP(
                        "Reason", "expected baud,parity,data bits,stop bits such as 9600,N,8,1")),
                    error);
    LineSettings s;

    const QString baud = fields.at(0).trimmed();
    bool ok = false;
    const qlonglong rate = baud.toLongLong(&ok);
    if (!ok || baud.startsWith(QLatin1Char('+')) || rate <= 0 || rate > 100'000'000)
        return fail(text,
                    Reason::text(QT_TRANSLATE_NOOP("Reason", "\"%1\" is not a baud rate"), baud),
                    error);
    s.baudRate = qint32(rate);

    const QString parity = fields.at(1).trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = LineSettings::Parity::None;
    else if (parity == QLatin1String("E"))
        s.parity = LineSettings::Parity::Even;
    else if (parity == QLatin1String("O"))
        s.parity = LineSettings::Parity::Odd;
    else if (parity == QLatin1String("M"))
        s.parity = LineSettings::Parity::Mark;
    else if (parity == QLatin1String("S"))
        s.parity = LineSettings::Parity::Space;
    else
        return fail(text,
                    Reason::text(QT_TRANSLATE_NOOP("Reason", "parity must be N, E, O, M or S")),
                    error);

    const QString data = fields.at(2).trimmed();
    if (data == QLatin1String("5"))
        s.dataBits = 5;
    else if (data == QLatin1String("6"))
        s.dataBits = 6;
    else if (data == QLatin1String("7"))
        s.dataBits = 7;
    else if (data == QLatin1String("8"))
        s.dataBits = 8;
    else
        return fail(text,
                    Reason::text(QT_TRANSLATE_NOOP("Reason", "data bits must be 5, 6, 7 or 8")),
                    error);

    const QString stop = fields.at(3).trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = LineSettings::StopBits::One;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (stop == QLatin1String("2"))
        s.stopBits = LineSettings::StopBits::Two;
    else
        return fail(text,
                    Reason::text(QT_TRANSLATE_NOOP("Reason", "stop bits must be 1, 1.5 or 2")),
                    error);

    if (settings)
        *settings = s;
    return true;
}

double LineSettings::bitsPerCharacter() const
{
    const double stop = stopBits == StopBits::One          ? 1.0
                        : stopBits == StopBits::OneAndHalf ? 1.5
                                                           : 2.0;
    const double parityBit = parity == Parity::None ? 0.0 : 1.0;
    return 1.0 + dataBits + parityBit + stop;
}

qint64 LineSettings::lineTimeNs(qsizetype bytes) const
{
    return qint64(double(bytes) * bitsPerCharacter() * 1e9 / baudRate);
}

SerialLink::~SerialLink() = default;
