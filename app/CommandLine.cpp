#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {


/// Qt's own options, which the application object takes and removes: those followed by
/// a value, and those standing alone. Each may start with one dash or two, and any may
/// carry its value after "=".
const char *const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",     "session",      "style",   "stylesheet",
    "display",  "geometry",           "title",         "name",    "visual"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync",
                                "qmljsdebugger", "testability"};

/// `arguments` without Qt's own options and their values.
QStringList withoutQtOptions(const QStringList &arguments)
{
    const auto named = [](QString argument, const auto &names) {
        if (!argument.startsWith(QLatin1Char('-')))
            return false;
        argument.remove(0, argument.startsWith(QLatin1String("--")) ? 2 : 1);
        argument.truncate(argument.indexOf(QLatin1Char('=')) < 0
                              ? argument.size()
                              : argument.indexOf(QLatin1Char('=')));
        for (const char *name : names)
            if (argument == QLatin1String(name))
                return true;
        return false;
    };
    QStringList rest;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (named(argument, kQtOptionsWithValue)) {
            if (!argument.contains(QLatin1Char('=')))
                ++i; // its value
        } else if (!named(argument, kQtFlags)) {
            rest << argument;
        }
    }
    return rest;
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments, Program program)
{
    const bool windowed = program == Program::Windowed;
    const QString name = windowed ? QStringLiteral("orvantide") : QStringLiteral("orvantide-service");
    const QString usage =
        windowed ? QStringLiteral("Usage: orvantide [--headless] [--settings FILE] [--set-port PORT] "
                                  "[--help] [--version]")
                 : QStringLiteral("Usage: orvantide-service [--settings FILE | --displays FOLDER] "
                                  "[--set-port PORT] [--help] [--version]");
    QCommandLineParser parser;
    // "-systray" is one word, not the letters -s -y -s -t -r -a -y.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption systray(QStringLiteral("systray"),
                                     QStringLiteral("Accepted and ignored."));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without windows, as a service."));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Read the settings from FILE."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption setPort(QStringLiteral("set-port"),
                                     QStringLiteral("Store PORT as the port and exit."),
                                     QStringLiteral("PORT"));
    const QCommandLineOption displays(QStringLiteral("displays"),
                                      QStringLiteral("Serve every display in FOLDER."),
                                      QStringLiteral("FOLDER"));
    parser.addOptions({help, version, systray, headless, settings, setPort});
    if (!windowed)
        parser.addOption(displays);

    CommandLine result;
    // Qt's own options are the windowed program's: the service has no windows to style.
    if (!parser.parse(QStringList{name} + (windowed ? withoutQtOptions(arguments) : arguments)) ||
        !parser.positionalArguments().isEmpty()) {
        result.action = Action::Error;
        const QString what = parser.errorText().isEmpty()
                                 ? QStringLiteral("Unexpected argument '%1'.")
                                       .arg(parser.positionalArguments().value(0))
                                 : parser.errorText();
        result.text = QStringLiteral("%1: %2 %3\n").arg(name, what, usage);
    } else if (parser.isSet(help)) {
        result.action = Action::ShowHelp;
        result.text =
            usage + QStringLiteral("\n\nKeeps the clock of a KV7R/9R serial clock display in step "
                                   "with this computer's clock.\nThe settings are read from "
                                   "orvtide.ini beside the program.\n\n");
        if (windowed)
            result.text += QStringLiteral("Options:\n"
                                          "  --headless       Run without windows, as a service: log to\n"
                                          "                   standard error, re-read the settings on\n"
                                          "                   SIGHUP, end on SIGTERM or SIGINT.\n");
        else
            result.text += QStringLiteral("It runs without windows, as a service: it logs to standard "
                                          "error,\nre-reads the settings on SIGHUP and ends on "
                                          "SIGTERM or SIGINT.\n\nOptions:\n");
        result.text += QStringLiteral("  --settings FILE  Read the settings from FILE.\n"
                                      "  --set-port PORT  Store PORT as the settings file's CommPort,\n"
                                      "                   checked as the settings dialog checks it,\n"
                                      "                   and exit.\n");
        if (!windowed)
            result.text +=
                QStringLiteral("  --displays FOLDER\n"
                               "                   Serve a display for each settings file\n"
                               "                   FOLDER/NAME.ini, in one process; SIGHUP\n"
                               "                   reads the folder again.\n");
        result.text += QStringLiteral("  -h, --help       Show this help and exit.\n"
                                      "  --version        Show the version and exit.\n");
        if (windowed)
            result.text += QStringLiteral("\nQt's own options, such as -style NAME, -platform NAME "
                                          "and\n-reverse, are taken too.\n");
    } else if (parser.isSet(version)) {
        result.action = Action::ShowVersion;
        result.text = QStringLiteral("%1 %2\n").arg(name, QStringLiteral(ORVANTIDE_VERSION));
    } else {
        result.headless = !windowed || parser.isSet(headless);
        result.settingsFile = parser.value(settings);
        if (!windowed)
            result.displays = parser.value(displays);
        if (parser.isSet(settings) && result.settingsFile.isEmpty()) {
            result.action = Action::Error;
            result.text = QStringLiteral("%1: --settings needs a file. %2\n").arg(name, usage);
        } else if (parser.isSet(displays) &&
                   (parser.value(displays).isEmpty() || parser.isSet(settings) ||
                    parser.isSet(setPort))) {
            result.action = Action::Error;
            result.text = QStringLiteral("%1: --displays needs a folder, and no --settings or "
                                         "--set-port. %2\n")
                              .arg(name, usage);
        } else if (parser.isSet(setPort)) {
            result.action = Action::SetPort;
            result.port = parser.value(setPort);
        }
    }
    return result;
}

CommandLine CommandLine::parse(int argc, char *argv[], Program program)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return parse(arguments, program);
}

int CommandLine::print() const
{
    const bool error = action == Action::Error;
    std::fputs(qPrintable(text), error ? stderr : stdout);
    return error ? 2 : 0;
}

QString CommandLine::programFolder()
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        return {};
    QString native = QDir::toNativeSeparators(folder);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

QString CommandLine::settingsPath(const QString &folder) const
{
    return settingsFile.isEmpty() ? folder + QStringLiteral("orvtide.ini")
                                  : QFileInfo(settingsFile).absoluteFilePath();
}

QString CommandLine::unnameableFolder(const char *argv0)
{
    return QStringLiteral("Orvantide cannot name the folder it was started from (\"%1\"): the "
                          "name is not valid text in this system's encoding, so the settings "
                          "file beside the program cannot be found. Move the program to a "
                          "folder whose name is valid text, or name the settings file with "
                          "--settings.")
        .arg(QString::fromLocal8Bit(argv0));
}
