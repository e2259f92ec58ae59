#include "platform/SystemText.h"

#include <clocale>
#include <cstring>
#include <locale.h>

QString systemErrorText(int error)
{
    // The C locale's messages: strerror() follows the user's LC_MESSAGES.
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return QString::fromUtf8(c ? ::strerror_l(error, c) : std::strerror(error));
}
