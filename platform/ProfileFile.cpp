#include "platform/ProfileFile.h"

#include <QFile>
#include <QSaveFile>
#include <QVector>

namespace ProfileFile {
namespace {

struct Line
{
    QByteArray content;
    QByteArray eol; // "\r\n", "\n", "\r" or empty for a last line without one
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct Parsed
{
    Kind kind = Kind::Blank;
    QString name; // section or key name, blanks removed
    QByteArray value;
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(const QByteArray &bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes.at(begin)))
        ++begin;
    while (end > begin && isBlank(bytes.at(end - 1)))
        --end;
    return bytes.mid(begin, end - begin);
}

QString decode(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}

QVector<Line> splitLines(const QByteArray &data)
{
    QVector<Line> lines;
    qsizetype start = 0;
    const qsizetype n = data.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = data.at(i);
        if (c != '\r' && c != '\n')
            continue;
        qsizetype eolLength = (c == '\r' && i + 1 < n && data.at(i + 1) == '\n') ? 2 : 1;
        lines.append({data.mid(start, i - start), data.mid(i, eolLength)});
        i += eolLength - 1;
        start = i + 1;
    }
    if (start < n)
        lines.append({data.mid(start), QByteArray()});
    return lines;
}

Parsed parse(const QByteArray &content)
{
    const QByteArray text = trimBlanks(content);
    Parsed p;
    if (text.isEmpty())
        return p;
    if (text.startsWith(';')) {
        p.kind = Kind::Comment;
    } else if (text.startsWith('[')) {
        p.kind = Kind::Section;
        qsizetype close = text.indexOf(']');
        p.name = decode(trimBlanks(text.mid(1, close < 0 ? -1 : close - 1)));
    } else if (qsizetype eq = text.indexOf('='); eq >= 0) {
        p.kind = Kind::Key;
        p.name = decode(trimBlanks(text.left(eq)));
        p.value = trimBlanks(text.mid(eq + 1));
    } else {
        p.kind = Kind::Other;
    }
    return p;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString unquote(const QByteArray &value)
{
    QByteArray v = value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return decode(v).left(kMaxValueLength);
}

QByteArray withoutBom(const QByteArray &data)
{
    return data.startsWith(kUtf8Bom) ? data.mid(kUtf8Bom.size()) : data;
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

bool hasOuterBlanks(const QString &text)
{
    return text.trimmed().size() != text.size();
}

/// Names that would not read back as written are refused.
QString invalidReason(const QString &section, const QString &key, const QString &value)
{
    if (section.isEmpty() || hasLineBreak(section) || section.contains(QLatin1Char(']')) ||
        hasOuterBlanks(section))
        return QStringLiteral("the section name \"%1\" cannot be stored").arg(section);
    if (key.isEmpty() || hasLineBreak(key) || key.contains(QLatin1Char('=')) ||
        key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char('[')) || hasOuterBlanks(key))
        return QStringLiteral("the key name \"%1\" cannot be stored").arg(key);
    if (hasLineBreak(value))
        return QStringLiteral("the value for key %1 contains a line break").arg(key);
    return {};
}

} // namespace

QString readString(const QString &path, const QString &section, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QVector<Line> lines = splitLines(withoutBom(file.readAll()));
    bool inSection = false;
    for (const Line &line : lines) {
        const Parsed p = parse(line.content);
        if (p.kind == Kind::Section) {
            if (inSection)
                return {}; // only the first section of a name is searched
            inSection = sameName(p.name, section);
        } else if (inSection && p.kind == Kind::Key && sameName(p.name, key)) {
            return unquote(p.value);
        }
    }
    return {};
}

bool writeString(const QString &path, const QString &section, const QString &key,
                 const QString &value, QString *error)
{
    if (const QString reason = invalidReason(section, key, value); !reason.isEmpty())
        return fail(error,
                    QStringLiteral("Cannot write the settings file \"%1\": %2.").arg(path, reason));

    QByteArray data;
    if (QFile existing(path); existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return fail(error, QStringLiteral("Cannot read the settings file \"%1\": %2.")
                                   .arg(path, existing.errorString()));
        data = existing.readAll();
    }
    const QByteArray bom = data.startsWith(kUtf8Bom) ? kUtf8Bom : QByteArray();
    QVector<Line> lines = splitLines(data.mid(bom.size()));

    QByteArray eol("\r\n");
    for (const Line &line : lines) {
        if (!line.eol.isEmpty()) {
            eol = line.eol;
            break;
        }
    }

    const QByteArray keyBytes = key.toLocal8Bit();
    const QByteArray valueBytes = value.toLocal8Bit();

    // Locate the first section of that name, its matching key and its last key line.
    qsizetype sectionLine = -1;
    qsizetype lastKeyLine = -1;
    qsizetype keyLine = -1;
    QString existingKeyName;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(lines.at(i).content);
        if (p.kind == Kind::Section) {
            if (sectionLine >= 0)
                break;
            if (sameName(p.name, section))
                sectionLine = i;
        } else if (sectionLine >= 0 && p.kind == Kind::Key) {
            lastKeyLine = i;
            if (sameName(p.name, key)) {
                keyLine = i;
                existingKeyName = p.name;
                break;
            }
        }
    }

    auto insertAfter = [&](qsizetype index, const QByteArray &content) {
        Line added{content, eol};
        if (lines[index].eol.isEmpty()) {
            lines[index].eol = eol;
            added.eol.clear();
        }
        lines.insert(index + 1, added);
    };

    if (keyLine >= 0) {
        lines[keyLine].content = existingKeyName.toLocal8Bit() + '=' + valueBytes;
    } else if (sectionLine >= 0) {
        insertAfter(lastKeyLine >= 0 ? lastKeyLine : sectionLine, keyBytes + '=' + valueBytes);
    } else {
        if (!lines.isEmpty() && lines.last().eol.isEmpty())
            lines.last().eol = eol;
        lines.append({'[' + section.toLocal8Bit() + ']', eol});
        lines.append({keyBytes + '=' + valueBytes, eol});
    }

    QByteArray out = bom;
    for (const Line &line : lines)
        out += line.content + line.eol;

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
        return fail(error, QStringLiteral("Cannot write the settings file \"%1\": %2.")
                               .arg(path, file.errorString()));
    return true;
}

} // namespace ProfileFile
