#include "WireTiming.h"

#include <QDateTime>

qint64 frameLineTimeUs(const termios &tio, int frameBytes)
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
    const speed_t code = ::cfgetospeed(&tio);
    int baud = 0;
    for (const auto &s : speeds) {
        if (s.code == code)
            baud = s.baud;
    }
    if (baud == 0)
        return 0;
    const int dataBits = (tio.c_cflag & CSIZE) == CS5   ? 5
                         : (tio.c_cflag & CSIZE) == CS6 ? 6
                         : (tio.c_cflag & CSIZE) == CS7 ? 7
                                                        : 8;
    const int bits =
        1 + dataBits + ((tio.c_cflag & PARENB) ? 1 : 0) + ((tio.c_cflag & CSTOPB) ? 2 : 1);
    return qint64(frameBytes) * bits * 1'000'000 / baud;
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
