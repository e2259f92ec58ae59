#include "platform/SystemText.h"

#include "core/Reason.h"

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

/// `say` run in `locale`; null: in the program's own, the user's language.
template <typename Say> QString sayIn(locale_t locale, Say say)
{
    const locale_t before = locale ? ::uselocale(locale) : locale_t(nullptr);
    const QString text = QString::fromUtf8(say());
    if (locale)
        ::uselocale(before);
    return text;
}

/// The window says the system's texts in the program's own language, the user's.
const bool g_saidInTheUsersLanguage = [] {
    Reason::setSystemTexts('e', [](int error) { return QString::fromUtf8(std::strerror(error)); });
    Reason::setSystemTexts('g',
                           [](int failed) { return QString::fromUtf8(::gai_strerror(failed)); });
    return true;
}();

} // namespace

QString systemErrorText(int error)
{
    const locale_t c = cLocale();
    return Reason::system(QString::fromUtf8(c ? ::strerror_l(error, c) : std::strerror(error)), 'e',
                          error);
}

QString resolverErrorText(int failed)
{
    return Reason::system(sayIn(cLocale(), [failed] { return ::gai_strerror(failed); }), 'g',
                          failed);
}
