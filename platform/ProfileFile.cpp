#include "platform/ProfileFile.h"

#include "core/Reason.h"

#include "platform/SafeFile.h"

namespace ProfileFile {
namespace {

/// A line of a file's text, viewed where it lies: a file of a million empty lines costs
/// no allocation a line.
struct Line
{
    QByteArrayView content;
    QByteArrayView eol; // "\r\n", "\n", "\r" or empty for a last line without one
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct Parsed
{
    Kind kind = Kind::Blank;
    QString name; // section or key name, blanks removed
    QByteArray value;
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kUtf16LeBom("\xFF\xFE");

/// A file's text as the byte lines the parser works on, and how to write it back: the
/// system's 8-bit code page, or UTF-16 LE with its byte-order mark as Notepad saves
/// "Unicode" (held as UTF-8 meanwhile).
struct Text
{
    QByteArray bom;
    bool utf16 = false;
    QByteArray bytes;

    static Text of(const QByteArray &data)
    {
        Text text;
        if (data.startsWith(kUtf16LeBom)) {
            text.bom = kUtf16LeBom;
            text.utf16 = true;
            const QByteArray units = data.mid(kUtf16LeBom.size());
            text.bytes = QString::fromUtf16(reinterpret_cast<const char16_t *>(units.constData()),
                                            units.size() / 2)
                             .toUtf8();
        } else {
            text.bom = data.startsWith(kUtf8Bom) ? kUtf8Bom : QByteArray();
            text.bytes = data.mid(text.bom.size());
        }
        return text;
    }

    QString decode(const QByteArray &bytes) const
    {
        return utf16 ? QString::fromUtf8(bytes) : QString::fromLocal8Bit(bytes);
    }
    QByteArray encode(const QString &string) const
    {
        return utf16 ? string.toUtf8() : string.toLocal8Bit();
    }
    QByteArray file(const QByteArray &bytes) const
    {
        if (!utf16)
            return bom + bytes;
        const QString string = QString::fromUtf8(bytes);
        return bom + QByteArray(reinterpret_cast<const char *>(string.utf16()), string.size() * 2);
    }
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes.at(begin)))
        ++begin;
    while (end > begin && isBlank(bytes.at(end - 1)))
        --end;
    return bytes.sliced(begin, end - begin);
}

/// The lines of `data`, one at a time, while they lie in it.
class LineReader
{
public:
    explicit LineReader(QByteArrayView data) : m_data(data) {}

    bool next(Line *line)
    {
        const qsizetype n = m_data.size();
        if (m_start >= n)
            return false;
        for (qsizetype i = m_start; i < n; ++i) {
            const char c = m_data.at(i);
            if (c != '\r' && c != '\n')
                continue;
            const qsizetype eolLength =
                (c == '\r' && i + 1 < n && m_data.at(i + 1) == '\n') ? 2 : 1;
            *line = {m_data.sliced(m_start, i - m_start), m_data.sliced(i, eolLength)};
            m_start = i + eolLength;
            return true;
        }
        *line = {m_data.sliced(m_start), QByteArrayView()};
        m_start = n;
        return true;
    }

private:
    QByteArrayView m_data;
    qsizetype m_start = 0;
};

Parsed parse(QByteArrayView content, const Text &file)
{
    const auto decode = [&](QByteArrayView bytes) { return file.decode(bytes.toByteArray()); };
    const QByteArrayView text = trimBlanks(content);
    Parsed p;
    if (text.isEmpty())
        return p;
    if (text.startsWith(';')) {
        p.kind = Kind::Comment;
    } else if (text.startsWith('[')) {
        p.kind = Kind::Section;
        qsizetype close = text.indexOf(']');
        p.name = decode(trimBlanks(close < 0 ? text.sliced(1) : text.sliced(1, close - 1)));
    } else if (qsizetype eq = text.indexOf('='); eq >= 0) {
        p.kind = Kind::Key;
        p.name = decode(trimBlanks(text.first(eq)));
        p.value = trimBlanks(text.sliced(eq + 1)).toByteArray();
    } else {
        p.kind = Kind::Other;
    }
    return p;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString unquote(const QByteArray &value, const Text &file)
{
    QByteArray v = value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return file.decode(v).left(kMaxValueLength);
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
        return Reason::text(QT_TRANSLATE_NOOP("Reason", "the section name \"%1\" cannot be stored"),
                            section);
    if (key.isEmpty() || hasLineBreak(key) || key.contains(QLatin1Char('=')) ||
        key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char('[')) || hasOuterBlanks(key))
        return Reason::text(QT_TRANSLATE_NOOP("Reason", "the key name \"%1\" cannot be stored"),
                            key);
    if (!SettingsFile::isStorable(value))
        return Reason::text(
            QT_TRANSLATE_NOOP("Reason",
                              "the value for key %1 contains a control character: \"%2\""),
            key, SettingsFile::printable(value));
    return {};
}

} // namespace

QString readString(const QString &path, const QString &section, const QString &key)
{
    QByteArray data;
    if (!SafeFile::read(path, &data, nullptr))
        return {};
    return valueIn(data, section, key);
}

QString valueIn(const QByteArray &data, const QString &section, const QString &key)
{
    const Text file = Text::of(data);
    LineReader lines(file.bytes);
    bool inSection = false;
    for (Line line; lines.next(&line);) {
        const Parsed p = parse(line.content, file);
        if (p.kind == Kind::Section) {
            if (inSection)
                return {}; // only the first section of a name is searched
            inSection = sameName(p.name, section);
        } else if (inSection && p.kind == Kind::Key && sameName(p.name, key)) {
            return unquote(p.value, file);
        }
    }
    return {};
}

bool writeString(const QString &path, const QString &section, const QString &key,
                 const QString &value, QString *error)
{
    SafeFile::Entry file(path);
    return writeString(file, section, key, value, error);
}

bool writeString(SafeFile::Entry &entry, const QString &section, const QString &key,
                 const QString &value, QString *error)
{
    // Read first: the file is reached then, and every message names it, not a link to it.
    QByteArray data;
    if (QString reason; !entry.read(&data, &reason) && reason != QLatin1String("was not found"))
        return fail(error,
                    Reason::text(QT_TRANSLATE_NOOP("Reason",
                                                   "Cannot write the settings file \"%1\": it %2."),
                                 entry.filePath(), reason));
    const QString path = entry.filePath();
    if (const QString reason = invalidReason(section, key, value); !reason.isEmpty())
        return fail(error, Reason::text(QT_TRANSLATE_NOOP(
                                            "Reason", "Cannot write the settings file \"%1\": %2."),
                                        path, reason));
    const Text file = Text::of(data);
    // The lines are read where they lie, once to find the line end and the place, once
    // more to write them out: a file of a million lines costs its own size twice, not a
    // copy of each line.
    QByteArrayView eol("\r\n"); // the file's own line end, for the lines written
    {
        LineReader lines(file.bytes);
        for (Line line; lines.next(&line);) {
            if (!line.eol.isEmpty()) {
                eol = line.eol;
                break;
            }
        }
    }

    // Locate the first section of that name, its matching key and its last key line.
    qsizetype sectionLine = -1;
    qsizetype lastKeyLine = -1;
    qsizetype keyLine = -1;
    QString existingKeyName;
    LineReader lines(file.bytes);
    qsizetype i = 0;
    for (Line line; lines.next(&line); ++i) {
        const Parsed p = parse(line.content, file);
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

    const QByteArray keyValue =
        (keyLine >= 0 ? file.encode(existingKeyName) : file.encode(key)) + '=' + file.encode(value);
    const QByteArray sectionHeader = '[' + file.encode(section) + ']';
    // A new key goes after the section's last key, or its header.
    const qsizetype insertAfter =
        keyLine < 0 && sectionLine >= 0 ? (lastKeyLine >= 0 ? lastKeyLine : sectionLine) : -1;
    QByteArray out;
    out.reserve(file.bytes.size() + sectionHeader.size() + keyValue.size() + 3 * eol.size());
    lines = LineReader(file.bytes);
    i = 0;
    for (Line line; lines.next(&line); ++i) {
        if (i == keyLine) {
            out += keyValue;
            out += line.eol.isEmpty() ? eol : line.eol;
            continue;
        }
        out += line.content;
        if (i != insertAfter) {
            out += line.eol;
        } else if (line.eol.isEmpty()) { // the last line: the new one ends the file as it did
            out += eol;
            out += keyValue;
        } else {
            out += line.eol;
            out += keyValue;
            out += eol;
        }
    }
    if (keyLine < 0 && sectionLine < 0) {
        if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r'))
            out += eol;
        out += sectionHeader;
        out += eol;
        out += keyValue;
        out += eol;
    }
    if (QString reason; !entry.replace(file.file(out), &reason))
        return fail(error,
                    Reason::text(QT_TRANSLATE_NOOP("Reason",
                                                   "Cannot write the settings file \"%1\": it %2."),
                                 entry.filePath(), reason));
    return true;
}

} // namespace ProfileFile

ProfileSettingsStore::ProfileSettingsStore(const QString &path) : m_path(path), m_file(path) {}

bool ProfileSettingsStore::load(QString *reason)
{
    m_data.clear();
    return m_file.read(&m_data, reason);
}

QString ProfileSettingsStore::value(const QString &section, const QString &key) const
{
    return ProfileFile::valueIn(m_data, section, key);
}

bool ProfileSettingsStore::store(const QString &section, const QString &key, const QString &value,
                                 QString *error)
{
    return ProfileFile::writeString(m_file, section, key, value, error);
}
