#include "WireTiming.h"

#include <QDateTime>

namespace {

struct Line
{
    int baud = 0; ///< 0 when the speed is not in the table
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
};

Line lineOf(const termios &tio)
{
    static const struct
    {
        speed_t code;
        int baud;
    } speeds[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
                  {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
                  {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
                  {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    Line line;
    const speed_t code = ::cfgetospeed(&tio);
    for (const auto &s : speeds) {
        if (s.code == code)
            line.baud = s.baud;
    }
    line.dataBits = (tio.c_cflag & CSIZE) == CS5   ? 5
                    : (tio.c_cflag & CSIZE) == CS6 ? 6
                    : (tio.c_cflag & CSIZE) == CS7 ? 7
                                                   : 8;
    if (tio.c_cflag & PARENB) {
        const bool odd = tio.c_cflag & PARODD;
#ifdef CMSPAR
        if (tio.c_cflag & CMSPAR)
            line.parity = odd ? 'M' : 'S';
        else
#endif
            line.parity = odd ? 'O' : 'E';
    }
    line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

} // namespace

qint64 frameLineTimeUs(const termios &tio, int frameBytes)
{
    const Line line = lineOf(tio);
    if (line.baud == 0)
        return 0;
    const int bits = 1 + line.dataBits + (line.parity != 'N' ? 1 : 0) + line.stopBits;
    return qint64(frameBytes) * bits * 1'000'000 / line.baud;
}

QString lineSettingsText(const termios &tio)
{
    const Line line = lineOf(tio);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(line.baud)
        .arg(QLatin1Char(line.parity))
        .arg(line.dataBits)
        .arg(line.stopBits);
}

double offsetMs(const QTime &carried, qint64 receivedUs)
{
    constexpr qint64 dayUs = qint64(24) * 3600 * 1'000'000;
    const QTime local = QDateTime::fromMSecsSinceEpoch(receivedUs / 1000).time();
    const qint64 receivedOfDayUs = qint64(local.msecsSinceStartOfDay()) * 1000 + receivedUs % 1000;
    qint64 offset = qint64(carried.msecsSinceStartOfDay()) * 1000 - receivedOfDayUs;
    if (offset >= dayUs / 2)
        offset -= dayUs;
    if (offset < -dayUs / 2)
        offset += dayUs;
    return double(offset) / 1000.0;
}
