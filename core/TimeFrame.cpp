#include "core/TimeFrame.h"

QByteArray TimeFrame(const QTime &time)
{
    const char frame[] = {
        char(0xFE),          char(0x10),        char(time.second()),
        char(time.minute()), char(time.hour()), char(0xFF),
    };
    return QByteArray(frame, sizeof frame);
}
