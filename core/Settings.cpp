#include "core/Settings.h"

#include "core/Reason.h"

#include "core/LineSettings.h"
#include "core/PortNames.h"

SettingsStore::~SettingsStore() = default;

namespace SettingsFile {
namespace {

/// One key of the file. `parse` takes the text into `settings`, or returns false with what
/// a valid value looks like; a key that is only ever written has none.
struct Field
{
    SettingsKey key;
    const char *section;
    const char *name;
    bool (*parse)(const QString &text, Settings &settings, QString *expected);
    QString (*format)(const Settings &settings);
};

// In the order a file with several bad values is reported.
const Field kFields[] = {
    {SettingsKey::Interval, "Sync", "Interval",
     [](const QString &text, Settings &settings, QString *expected) {
         const auto minutes = parseInt16(text);
         if (minutes)
             settings.interval = *minutes;
         *expected = Reason::text(QT_TRANSLATE_NOOP(
             "Reason", "It must be a whole number of minutes from -32768 to 32767."));
         return minutes.has_value();
     },
     [](const Settings &settings) { return QString::number(settings.interval); }},
    {SettingsKey::CommPort, "Settings", "CommPort",
     [](const QString &text, Settings &settings, QString *expected) {
         settings.commPort = text;
         QString why;
         PortNames::networkPort(text, &why);
         *expected = !why.isEmpty() ? why
                                    : Reason::text(QT_TRANSLATE_NOOP("Reason", "It must be %1."),
                                                   PortNames::whatNamesAPort(false));
         return PortNames::deviceFor(text).has_value();
     },
     [](const Settings &settings) { return settings.commPort; }},
    {SettingsKey::LineSettings, "Settings", "Setting",
     [](const QString &text, Settings &settings, QString *expected) {
         settings.lineSettings = text;
         QString reason;
         const bool valid = LineSettings::parse(text, nullptr, &reason);
         *expected = Reason::text(
             QT_TRANSLATE_NOOP("Reason", "It must be line settings such as 9600,N,8,1: %1."),
             reason);
         return valid;
     },
     [](const Settings &settings) { return settings.lineSettings; }},
    {SettingsKey::WarnUnsynchronised, "Sync", "WarnUnsynchronised",
     [](const QString &text, Settings &settings, QString *expected) {
         const QString value = text.trimmed();
         settings.warnUnsynchronised = value != QLatin1String("0");
         *expected = Reason::text(
             QT_TRANSLATE_NOOP("Reason", "It must be 1 (warn when the PC clock is not synchronised "
                                         "to a time source) or 0 (never warn); absent means 1."));
         return value.isEmpty() || value == QLatin1String("0") || value == QLatin1String("1");
     },
     [](const Settings &settings) { return QString::number(settings.warnUnsynchronised ? 1 : 0); }},
    {SettingsKey::IntervalIndex, "Settings", "SyncInt", nullptr,
     [](const Settings &settings) { return QString::number(settings.intervalIndex); }},
};

const Field &fieldOf(SettingsKey key)
{
    for (const Field &field : kFields) {
        if (field.key == key)
            return field;
    }
    Q_UNREACHABLE();
}

} // namespace

SettingsLoad load(SettingsStore &store)
{
    if (QString reason; !store.load(&reason)) {
        return {std::nullopt,
                Reason::text(QT_TRANSLATE_NOOP(
                                 "Reason",
                                 "The settings file \"%1\" %2. It must hold the keys CommPort and "
                                 "Setting in section [Settings] and Interval in section [Sync]."),
                             store.location(), reason)};
    }
    Settings settings;
    for (const Field &field : kFields) {
        if (!field.parse)
            continue;
        const QString section = QLatin1String(field.section);
        const QString key = QLatin1String(field.name);
        const QString text = store.value(section, key);
        QString expected;
        if (!isStorable(text)) {
            return {std::nullopt,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason",
                                     "The settings file \"%1\" has an invalid value in section "
                                     "[%2], key %3: \"%4\". It must not hold control characters."),
                                 store.location(), section, key, printable(text))};
        }
        if (!field.parse(text, settings, &expected)) {
            return {std::nullopt,
                    Reason::text(QT_TRANSLATE_NOOP(
                                     "Reason",
                                     "The settings file \"%1\" has an invalid value in section "
                                     "[%2], key %3: \"%4\". %5"),
                                 store.location(), section, key, printable(text), expected)};
        }
    }
    return {settings, QString()};
}

bool save(const Settings &settings, const QList<SettingsKey> &keys, SettingsStore &store,
          QString *error)
{
    for (const SettingsKey key : keys) {
        const Field &field = fieldOf(key);
        if (!store.store(QLatin1String(field.section), QLatin1String(field.name),
                         field.format(settings), error))
            return false;
    }
    return true;
}

std::optional<qint16> parseInt16(const QString &text)
{
    // Blanks and tabs around, a sign, 1 to 18 digits. Read by hand: a regular expression
    // would bring its engine into the service's memory for this one rule.
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [&](qsizetype i) {
        return text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t');
    };
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    const qsizetype digits =
        begin < end && (text.at(begin) == QLatin1Char('+') || text.at(begin) == QLatin1Char('-'))
            ? begin + 1
            : begin;
    if (end - digits < 1 || end - digits > 18)
        return std::nullopt;
    for (qsizetype i = digits; i < end; ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return std::nullopt;
    }
    const qlonglong value = text.mid(begin, end - begin).toLongLong();
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

bool isStorable(const QString &value)
{
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace SettingsFile
