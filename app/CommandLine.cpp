#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace {

const QString kUsage = QStringLiteral("Usage: orvantide [--help] [--version]");

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    // "-systray" is one word, not the letters -s -y -s -t -r -a -y.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption systray(QStringLiteral("systray"),
                                     QStringLiteral("Accepted and ignored."));
    parser.addOptions({help, version, systray});

    CommandLine result;
    if (!parser.parse(QStringList{QStringLiteral("orvantide")} + arguments) ||
        !parser.positionalArguments().isEmpty()) {
        result.action = Action::Error;
        const QString what = parser.errorText().isEmpty()
                                 ? QStringLiteral("Unexpected argument '%1'.")
                                       .arg(parser.positionalArguments().value(0))
                                 : parser.errorText();
        result.text = QStringLiteral("orvantide: %1 %2\n").arg(what, kUsage);
    } else if (parser.isSet(help)) {
        result.action = Action::ShowHelp;
        result.text =
            kUsage + QStringLiteral("\n\n"
                                    "Keeps the clock of a KV7R/9R serial clock display in step "
                                    "with this computer's clock.\nThe settings are read from "
                                    "orvtide.ini beside the program.\n\n"
                                    "Options:\n"
                                    "  -h, --help   Show this help and exit.\n"
                                    "  --version    Show the version and exit.\n");
    } else if (parser.isSet(version)) {
        result.action = Action::ShowVersion;
        result.text = QStringLiteral("orvantide %1\n").arg(QStringLiteral(ORVANTIDE_VERSION));
    }
    return result;
}
