#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <type_traits>

/// Why something failed, told to the log and to the user. A reason is an English text,
/// the same in every log whatever the user's language; one made here remembers how it was
/// made (its template and its arguments, or the system's code), so that a window can say
/// it in its user's language with translated().
///
/// Templates are marked QT_TRANSLATE_NOOP("Reason", "...") where they are written, which
/// puts them in the translations. The last kRemembered reasons are remembered; an older
/// one, or a text made otherwise, is said as it is.
namespace Reason {

constexpr int kRemembered = 512;

/// `english` with %1, %2, ... filled from `args`, in one pass: an argument that holds "%1"
/// itself is left as it is.
QString fromList(const char *english, const QStringList &args);

inline QString argText(const QString &text)
{
    return text;
}
template <typename Number, std::enable_if_t<std::is_integral_v<Number>, int> = 0>
QString argText(Number number)
{
    return QString::number(number);
}

/// `english` filled with `args`, texts and whole numbers.
template <typename... Args> QString text(const char *english, const Args &...args)
{
    return fromList(english, QStringList{argText(args)...});
}
/// A text of the system's, in English, for `code` of the kind of codes `kind` names (the
/// platform's: 'e' an errno value, 'g' a resolver's code); the window says it with the
/// function set for that kind.
QString system(const QString &english, char kind, int code);
/// How a window says the system's texts of `kind` in the user's language; the platform
/// sets it once for each kind it makes.
void setSystemTexts(char kind, std::function<QString(int code)> inUserLanguage);

/// How `reason` was made, as one line of JSON, for a window in another process to say it
/// in its user's language; empty when it is not remembered.
QByteArray describe(const QString &reason);
/// Remembers the reason `description` tells of, as describe() gave it; returns its text,
/// empty for a description that is none.
QString fromDescription(const QByteArray &description);

/// `reason` in the language of `translate`, which translates a template: each argument
/// that is a reason in turn is translated too, a system text is said in the user's
/// language, anything else stays as it is.
QString translated(const QString &reason,
                   const std::function<QString(const char *english)> &translate);

} // namespace Reason
