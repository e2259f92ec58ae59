#include "core/Reason.h"

#include <QHash>

#include <deque>
#include <mutex>

namespace {

/// How a reason was made.
struct Making
{
    const char *english = nullptr; ///< the template; null for a system text
    QStringList args;
    std::function<QString()> inUserLanguage; ///< a system text's
};

/// The reasons made lately, by their text; reasons are made on any thread.
struct Memory
{
    std::mutex lock;
    QHash<QString, Making> made;
    std::deque<QString> order; ///< oldest first
};

Memory &memory()
{
    static Memory instance;
    return instance;
}

void remember(const QString &text, Making making)
{
    Memory &m = memory();
    const std::lock_guard guard(m.lock);
    if (!m.made.contains(text)) {
        m.order.push_back(text);
        if (m.order.size() > size_t(Reason::kRemembered)) {
            m.made.remove(m.order.front());
            m.order.pop_front();
        }
    }
    m.made.insert(text, std::move(making));
}

QString fill(const QString &pattern, const QStringList &args)
{
    QString out;
    out.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        const QChar next = i + 1 < pattern.size() ? pattern.at(i + 1) : QChar();
        if (c == QLatin1Char('%') && next >= QLatin1Char('1') && next <= QLatin1Char('9') &&
            next.digitValue() <= args.size()) {
            out += args.at(next.digitValue() - 1);
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QString translatedAt(const QString &reason, const std::function<QString(const char *)> &translate,
                     int depth)
{
    Making making;
    {
        Memory &m = memory();
        const std::lock_guard guard(m.lock);
        const auto found = m.made.constFind(reason);
        if (found == m.made.constEnd())
            return reason;
        making = *found;
    }
    if (!making.english)
        return making.inUserLanguage ? making.inUserLanguage() : reason;
    QStringList args;
    for (const QString &arg : making.args)
        args << (depth < 8 ? translatedAt(arg, translate, depth + 1) : arg);
    return fill(translate(making.english), args);
}

} // namespace

QString Reason::fromList(const char *english, const QStringList &args)
{
    const QString made = fill(QString::fromUtf8(english), args);
    remember(made, {english, args, {}});
    return made;
}

QString Reason::system(const QString &english, std::function<QString()> inUserLanguage)
{
    remember(english, {nullptr, {}, std::move(inUserLanguage)});
    return english;
}

QString Reason::translated(const QString &reason,
                           const std::function<QString(const char *)> &translate)
{
    return translatedAt(reason, translate, 0);
}
