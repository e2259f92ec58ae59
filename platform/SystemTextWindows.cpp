#include "platform/SystemText.h"

#include <cstring>

QString systemErrorText(int error)
{
    // The C runtime's messages are English in every language of Windows.
    return QString::fromLocal8Bit(std::strerror(error));
}
