#include "core/Reason.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <deque>
#include <mutex>
#include <optional>

namespace {

/// How a reason was made.
struct Making
{
    QByteArray english; ///< the template; empty for a system text
    QStringList args;
    char kind = 0; ///< a system text's kind of code, and its code
    int code = 0;
};

/// The reasons made lately, by their text; reasons are made on any thread.
struct Memory
{
    std::mutex lock;
    QHash<QString, Making> made;
    std::deque<QString> order; ///< oldest first
    QHash<char, std::function<QString(int)>> systemTexts;
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

/// How `text` was made, if it is remembered.
std::optional<Making> makingOf(const QString &text)
{
    Memory &m = memory();
    const std::lock_guard guard(m.lock);
    const auto found = m.made.constFind(text);
    return found == m.made.constEnd() ? std::nullopt : std::optional<Making>(*found);
}

QString translatedAt(const QString &reason, const std::function<QString(const char *)> &translate,
                     int depth)
{
    const std::optional<Making> making = makingOf(reason);
    if (!making)
        return reason;
    if (making->english.isEmpty()) {
        std::function<QString(int)> say;
        {
            Memory &m = memory();
            const std::lock_guard guard(m.lock);
            say = m.systemTexts.value(making->kind);
        }
        return say ? say(making->code) : reason;
    }
    QStringList args;
    for (const QString &arg : making->args)
        args << (depth < 8 ? translatedAt(arg, translate, depth + 1) : arg);
    return fill(translate(making->english.constData()), args);
}

QJsonValue described(const QString &text, int depth)
{
    const std::optional<Making> making = depth < 8 ? makingOf(text) : std::nullopt;
    if (!making)
        return text;
    if (making->english.isEmpty())
        return QJsonObject{{QStringLiteral("s"), text},
                           {QStringLiteral("k"), QString(QLatin1Char(making->kind))},
                           {QStringLiteral("c"), making->code}};
    QJsonArray args;
    for (const QString &arg : making->args)
        args.append(described(arg, depth + 1));
    return QJsonObject{{QStringLiteral("t"), QString::fromUtf8(making->english)},
                       {QStringLiteral("a"), args}};
}

QString rebuilt(const QJsonValue &value, int depth)
{
    if (!value.isObject() || depth >= 8)
        return value.toString();
    const QJsonObject object = value.toObject();
    if (object.contains(QStringLiteral("s"))) {
        const QString kind = object.value(QStringLiteral("k")).toString();
        return Reason::system(object.value(QStringLiteral("s")).toString(),
                              kind.isEmpty() ? '?' : kind.at(0).toLatin1(),
                              object.value(QStringLiteral("c")).toInt());
    }
    QStringList args;
    for (const QJsonValue &arg : object.value(QStringLiteral("a")).toArray())
        args << rebuilt(arg, depth + 1);
    const QByteArray english = object.value(QStringLiteral("t")).toString().toUtf8();
    const QString made = fill(QString::fromUtf8(english), args);
    remember(made, {english, args, 0, 0});
    return made;
}

} // namespace

QString Reason::fromList(const char *english, const QStringList &args)
{
    const QString made = fill(QString::fromUtf8(english), args);
    remember(made, {QByteArray(english), args, 0, 0});
    return made;
}

QString Reason::system(const QString &english, char kind, int code)
{
    remember(english, {QByteArray(), {}, kind, code});
    return english;
}

void Reason::setSystemTexts(char kind, std::function<QString(int code)> inUserLanguage)
{
    Memory &m = memory();
    const std::lock_guard guard(m.lock);
    m.systemTexts.insert(kind, std::move(inUserLanguage));
}

QByteArray Reason::describe(const QString &reason)
{
    if (!makingOf(reason))
        return QByteArray();
    return QJsonDocument(QJsonArray{described(reason, 0)}).toJson(QJsonDocument::Compact);
}

QString Reason::fromDescription(const QByteArray &description)
{
    const QJsonDocument document = QJsonDocument::fromJson(description);
    return document.isArray() ? rebuilt(document.array().at(0), 0) : QString();
}

QString Reason::translated(const QString &reason,
                           const std::function<QString(const char *)> &translate)
{
    return translatedAt(reason, translate, 0);
}
