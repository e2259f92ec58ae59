#include "platform/SystemText.h"

#include <cstring>
#include <locale.h>
#include <netdb.h>

namespace {

/// The C locale, whose messages are English: strerror() and gai_strerror() follow the
/// user's LC_MESSAGES. Null where the system cannot make it.
locale_t cLocale()
{
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

} // namespace

QString systemErrorText(int error)
{
    const locale_t c = cLocale();
    return QString::fromUtf8(c ? ::strerror_l(error, c) : std::strerror(error));
}

QString resolverErrorText(int failed)
{
    const locale_t c = cLocale();
    const locale_t user = c ? ::uselocale(c) : locale_t(nullptr);
    const QString text = QString::fromUtf8(::gai_strerror(failed));
    if (c)
        ::uselocale(user);
    return text;
}
