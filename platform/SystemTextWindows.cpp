#include "platform/SystemText.h"

#include "core/Reason.h"

#include <cstring>
#include <windows.h>

namespace {

/// FormatMessage's text for `code` in `language`; empty where it has none in it.
QString messageIn(unsigned long code, DWORD language)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, language, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString text =
        length ? QString::fromWCharArray(buffer, int(length)).trimmed() : QString();
    LocalFree(buffer);
    return text;
}

/// FormatMessage's text in the user's language.
QString inUserLanguage(int code)
{
    const QString text = messageIn(DWORD(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    return text.isEmpty() ? QStringLiteral("Windows error %1").arg(code) : text;
}

const bool g_saidInTheUsersLanguage = [] {
    Reason::setSystemTexts('w', inUserLanguage);
    return true;
}();

} // namespace

QString systemErrorText(int error)
{
    // The C runtime's messages are English in every language of Windows.
    return QString::fromLocal8Bit(std::strerror(error));
}

QString windowsErrorText(unsigned long code)
{
    const QString english = messageIn(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    return Reason::system(english.isEmpty() ? inUserLanguage(int(code)) : english, 'w', int(code));
}
