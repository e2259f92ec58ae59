#pragma once

#include <QString>
#include <QStringList>
#include <memory>

/// Where the platform keeps the programs it starts when the user logs in: the registry's
/// Run key on Windows, the freedesktop autostart folders elsewhere. One named entry.
class AutostartStore
{
public:
    virtual ~AutostartStore();

    /// `program` followed by `arguments`, quoted the way this store's readers need it,
    /// so that a path with blanks can never run another program in its place.
    virtual QString commandLine(const QString &program, const QString &arguments) const = 0;
    /// The command line registered now, or the empty text when none is registered or it
    /// cannot be read.
    virtual QString registered() const = 0;
    /// Registers `commandLine`. Returns false with the system's reason when refused.
    virtual bool registerCommand(const QString &commandLine, QString *error) = 0;
    /// Removes the registration. Returns false with the system's reason when refused.
    virtual bool unregister(QString *error) = 0;
};

/// The freedesktop Desktop Application Autostart entry `<name>.desktop`: written to
/// $XDG_CONFIG_HOME/autostart (default ~/.config/autostart); looked up there first, then
/// in the autostart folder of each of $XDG_CONFIG_DIRS (default /etc/xdg). Hidden=true
/// means not registered.
class XdgAutostartStore : public AutostartStore
{
public:
    explicit XdgAutostartStore(const QString &name);

    QString commandLine(const QString &program, const QString &arguments) const override;
    QString registered() const override;
    bool registerCommand(const QString &commandLine, QString *error) override;
    bool unregister(QString *error) override;

    /// The user's entry, which this store writes.
    QString userEntryPath() const;
    /// The entries it looks at, the one that counts first.
    QStringList searchPaths() const;

private:
    bool writeUserEntry(const QByteArray &content, QString *error) const;

    QString m_name;
};

/// The store of this platform for the entry `name`.
std::unique_ptr<AutostartStore> createAutostartStore(const QString &name);
