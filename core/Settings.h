#pragma once

#include <QList>
#include <QString>
#include <optional>

/// The program's settings: what its settings file holds, as one value.
struct Settings
{
    QString commPort;     ///< [Settings] CommPort: a port number as decimal text, or a device path
    QString lineSettings; ///< [Settings] Setting: "baud,parity,data,stop"
    qint16 interval = 0;  ///< [Sync] Interval: minutes between two periodic syncs
    int intervalIndex = -1; ///< [Settings] SyncInt: the dialog's list entry; stored, never read
    /// [Sync] WarnUnsynchronised: say when the PC clock itself is not synchronised to a
    /// time source; "0" turns it off (a clock kept by other means), absent means on.
    bool warnUnsynchronised = true;

    bool operator==(const Settings &other) const
    {
        return commPort == other.commPort && lineSettings == other.lineSettings &&
               interval == other.interval && intervalIndex == other.intervalIndex &&
               warnUnsynchronised == other.warnUnsynchronised;
    }
};

/// The keys of the settings file, one for each field of Settings.
enum class SettingsKey { Interval, CommPort, LineSettings, IntervalIndex, WarnUnsynchronised };

/// Where the settings are kept: the settings file; tests keep them in memory.
class SettingsStore
{
public:
    virtual ~SettingsStore();
    /// Where the store is, as messages name it: the settings file's path.
    virtual QString location() const = 0;
    /// Reads the whole store. Returns false with the reason, without the location ("was
    /// not found"), when it cannot be read.
    virtual bool load(QString *reason) = 0;
    /// The value of `key` in `section` as last loaded; empty when there is none.
    virtual QString value(const QString &section, const QString &key) const = 0;
    /// Stores one value. Returns false with a reason that names the file when it could not
    /// be stored; the store is then unchanged.
    virtual bool store(const QString &section, const QString &key, const QString &value,
                       QString *error) = 0;
};

/// The settings read from a store, or what stops them being read: a message that names the
/// file and, for a bad value, its section, key and value.
struct SettingsLoad
{
    std::optional<Settings> settings;
    QString error;
};

/// Reading and writing Settings through one table of {section, key, parse, format}.
namespace SettingsFile {

SettingsLoad load(SettingsStore &store);

/// Stores the fields named by `keys`, in that order; stops at the first that fails, with
/// its reason in `error`.
bool save(const Settings &settings, const QList<SettingsKey> &keys, SettingsStore &store,
          QString *error);

/// A signed 16-bit whole number as the settings file holds it: optional blanks around it,
/// an optional sign, decimal digits, within -32768 to 32767. Anything else has no value.
std::optional<qint16> parseInt16(const QString &text);

/// Whether `value` may stand as a value of the settings file: it holds no control
/// character (a line break, tab, vertical tab, form feed, NUL, DEL or a C1 control), which
/// would not read back as written, would name no device, or would show wrongly in a
/// message. Loading, the settings dialog and the file writer all use this one rule.
bool isStorable(const QString &value);

/// `text` with its control characters shown as \xHH, so that a message shows them all.
QString printable(const QString &text);

} // namespace SettingsFile
