#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ServiceChannel;

/// One running instance per settings file, whoever started it: the first listens on a
/// local socket named after the file (on Linux in the abstract namespace, which every user
/// of the machine shares and a service's private /tmp does not hide; on Windows a named
/// mutex decides who is first); a later one asks it who it is and, when both have windows,
/// asks it to bring its window forward.
///
/// A service's instance is also what the windowed program shows when it starts for the
/// same file: it asks to watch, hears the service's state as lines (see ViewLines) and,
/// when its user may write the settings file and its folder, asks for a frame ("sync") or
/// for the settings to be read again ("reload").
///
/// On Linux any user can reach that name, so neither side trusts a stranger: a request is
/// one short line within two seconds; "show" is heard only from the same user or root;
/// anyone may watch a service (at most four connections a user, 32 in all) and hears why
/// they may not change it; a watcher that does not read what it is told is let go. A few
/// connections at a time are served, and running out of descriptors never ends the
/// listening. A name held by a program that is not trusted (not the same user, not root,
/// not the settings file's owner, not the package's service user "orvantide") never stops
/// a start: the port's lock keeps two writers apart, and holderNotice() says who holds the
/// name.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Kind {
        Windowed,
        Headless,
        /// The windowed program that shows the service: one for each user, under a name
        /// of its own, so that a second start brings its window forward.
        ServiceWindow,
    };

    /// Who runs already.
    struct Other
    {
        Kind kind = Kind::Windowed;
        qint64 pid = 0;        ///< 0 when it did not say
        bool answered = false; ///< it said who it is (else it holds the name but is silent)
        qint64 uid = -1;       ///< the user it runs as, where the system tells
    };

    SingleInstance(const QString &settingsFile, Kind kind, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// Makes this process the instance for its settings file. Returns false when another
    /// is, with who it is in `other`; a windowed one has then been asked to show its window
    /// when this one is windowed too. Returns true, with holderNotice() set, when a program
    /// that is not trusted holds the name.
    bool claim(Other *other);
    /// Why this instance runs without the name, naming who holds it; empty when it has it.
    QString holderNotice() const { return m_holderNotice; }

    /// A line to the service that holds the name, for the windowed program to show it;
    /// null where the platform has none.
    std::unique_ptr<ServiceChannel> watchService() const;
    /// What a new watcher is told first: the service's state as lines.
    void setStateForWatchers(std::function<QByteArray()> state) { m_state = std::move(state); }
    /// Tells every watcher `lines`, each with its line end.
    void tellWatchers(const QByteArray &lines);

    /// The settings file itself: a link (the program folder's settings file, linked to
    /// /etc) names the same file, and its name tells an administrator nothing.
    static QString theFile(const QString &settingsFile);
    /// The socket's name for `settingsFile`: the same for every name of one file.
    static QString socketName(const QString &settingsFile);
    /// What a second start says: "Orvantide already runs for the settings file "...": the
    /// service (--headless) (process 1234)."
    static QString alreadyRuns(const QString &settingsFile, const Other &other);

signals:
    /// A second windowed start asked for the window.
    void showRequested();
    /// A watcher who may change the settings asked for a frame, or for the settings to be
    /// read again.
    void syncRequested(qint64 pid, qint64 uid);
    void reloadRequested(qint64 pid, qint64 uid);

private:
    /// The platform's listening and asking: SingleInstanceLinux.cpp or
    /// SingleInstanceWindows.cpp, one of which the build takes.
    struct Private;

    /// Asks the instance listening on the name who it is. False when none answers.
    bool ask(Other *other);
    /// What this instance answers anyone who asks: "windowed 1234\n".
    QByteArray answer() const;

    /// How long a start waits for the instance that holds the name to answer.
    static constexpr int kAnswerMs = 2000;

    QString m_name;
    QString m_settingsFile;
    Kind m_kind;
    QString m_holderNotice;
    std::function<QByteArray()> m_state;
    std::unique_ptr<Private> d;
};
