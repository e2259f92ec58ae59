#include "platform/AutostartStore.h"

#include "core/Reason.h"

#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <iterator>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

AutostartStore::~AutostartStore() = default;

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

/// An argument of an Exec key: quoted when it holds a reserved character, with '%'
/// doubled as the Desktop Entry specification demands.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString escaped = argument;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool quote = escaped.isEmpty();
    for (QChar c : escaped)
        quote = quote || reserved.contains(c);
    if (!quote)
        return escaped;
    QString quoted;
    for (QChar c : escaped) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

/// The escapes of a desktop entry's string values: "\\s" stands for a blank, written
/// only for a leading one, where it would otherwise be read as padding.
constexpr struct
{
    char code;
    char plain;
} kEscapes[] = {{'s', ' '}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'\\', '\\'}};

/// A value of type string in a desktop entry file.
QString escapeString(const QString &value)
{
    QString out;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const auto *escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                          [&](const auto &e) { return c == QLatin1Char(e.plain); });
        if (escape != std::end(kEscapes) && (escape->code != 's' || i == 0)) {
            out += QLatin1Char('\\');
            out += QLatin1Char(escape->code);
        } else {
            out += c;
        }
    }
    return out;
}

QString unescapeString(const QString &value)
{
    QString out;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        const auto *escape =
            std::find_if(std::begin(kEscapes), std::end(kEscapes),
                         [&](const auto &e) { return next == QLatin1Char(e.code); });
        out += escape != std::end(kEscapes) ? QChar(QLatin1Char(escape->plain)) : next;
    }
    return out;
}

/// The keys of the [Desktop Entry] group of the file at `path`.
QHash<QString, QString> desktopEntry(const QString &path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    bool inGroup = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || line.startsWith(QLatin1Char('#')) || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key))
            keys.insert(key, unescapeString(line.mid(eq + 1).trimmed()));
    }
    return keys;
}

QString configHome()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    return QDir::homePath() + QStringLiteral("/.config");
}

QStringList configDirs()
{
    QStringList dirs;
    const QStringList listed =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : listed) {
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    }
    if (dirs.isEmpty())
        dirs << QStringLiteral("/etc/xdg");
    return dirs;
}

} // namespace

XdgAutostartStore::XdgAutostartStore(const QString &name) : m_name(name) {}

QString XdgAutostartStore::commandLine(const QString &program, const QString &arguments) const
{
    return arguments.isEmpty() ? execArgument(program)
                               : execArgument(program) + QLatin1Char(' ') + arguments;
}

QString XdgAutostartStore::userEntryPath() const
{
    return configHome() + QStringLiteral("/autostart/") + m_name + QStringLiteral(".desktop");
}

QStringList XdgAutostartStore::searchPaths() const
{
    QStringList paths{userEntryPath()};
    for (const QString &dir : configDirs())
        paths << dir + QStringLiteral("/autostart/") + m_name + QStringLiteral(".desktop");
    return paths;
}

QString XdgAutostartStore::registered() const
{
    for (const QString &path : searchPaths()) {
        if (!QFileInfo::exists(path))
            continue;
        // The first entry found decides, even when it hides the others.
        const QHash<QString, QString> entry = desktopEntry(path);
        if (entry.value(QStringLiteral("Hidden")) == QLatin1String("true"))
            return {};
        return entry.value(QStringLiteral("Exec"));
    }
    return {};
}

bool XdgAutostartStore::writeUserEntry(const QByteArray &content, QString *error) const
{
    const QString path = userEntryPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(error, Reason::text(QT_TRANSLATE_NOOP(
                                            "Reason", "Cannot create the autostart folder \"%1\"."),
                                        folder));
    if (QString reason; !SafeFile::replace(path, content, &reason))
        return fail(error,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason", "Cannot write the autostart entry \"%1\": it %2."),
                                 path, reason));
    return true;
}

bool XdgAutostartStore::registerCommand(const QString &commandLine, QString *error)
{
    const QString content = QStringLiteral("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=%1\n"
                                           "Comment=Keeps the serial clock display in step with "
                                           "this computer's clock\n"
                                           "Exec=%2\n"
                                           // The program hides behind its notification icon:
                                           // sessions that can are asked to start it once
                                           // the panel runs.
                                           "X-KDE-autostart-after=panel\n"
                                           "X-LXQt-Need-Tray=true\n")
                                .arg(m_name, escapeString(commandLine));
    return writeUserEntry(content.toUtf8(), error);
}

bool XdgAutostartStore::unregister(QString *error)
{
    // A system-wide entry can only be switched off by a user entry that hides it.
    const QStringList paths = searchPaths();
    for (int i = 1; i < paths.size(); ++i) {
        if (QFileInfo::exists(paths.at(i)))
            return writeUserEntry(
                QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nHidden=true\n")
                    .arg(m_name)
                    .toUtf8(),
                error);
    }
    QFile user(userEntryPath());
    if (user.exists() && !user.remove())
        return fail(error,
                    Reason::text(QT_TRANSLATE_NOOP("Reason",
                                                   "Cannot remove the autostart entry \"%1\": %2."),
                                 user.fileName(), user.errorString()));
    return true;
}

#ifdef Q_OS_WIN
namespace {

/// The value `name` under the machine-wide Run key of the registry.
class RegistryRunStore : public AutostartStore
{
public:
    explicit RegistryRunStore(const QString &name) : m_name(name) {}

    QString commandLine(const QString &program, const QString &arguments) const override
    {
        const QString quoted = program.contains(QLatin1Char(' '))
                                   ? QLatin1Char('"') + program + QLatin1Char('"')
                                   : program;
        return arguments.isEmpty() ? quoted : quoted + QLatin1Char(' ') + arguments;
    }
    QString registered() const override { return runKey().value(m_name).toString(); }
    bool registerCommand(const QString &commandLine, QString *error) override
    {
        QSettings key = runKey();
        key.setValue(m_name, commandLine);
        return finish(key, error);
    }
    bool unregister(QString *error) override
    {
        QSettings key = runKey();
        key.remove(m_name);
        return finish(key, error);
    }

private:
    static QSettings runKey()
    {
        return QSettings(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"),
            QSettings::NativeFormat);
    }
    bool finish(QSettings &key, QString *error) const
    {
        key.sync();
        if (key.status() == QSettings::NoError)
            return true;
        return fail(error,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason", "Windows refused to change the value %1 under "
                                               "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                                               "CurrentVersion\\Run (access denied). Changing it "
                                               "needs administrator rights."),
                                 m_name));
    }

    QString m_name;
};

} // namespace
#endif

std::unique_ptr<AutostartStore> createAutostartStore(const QString &name)
{
#ifdef Q_OS_WIN
    return std::make_unique<RegistryRunStore>(name);
#else
    return std::make_unique<XdgAutostartStore>(name);
#endif
}
