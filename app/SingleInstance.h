#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

/// One running instance per settings file, whoever started it: the first listens on a
/// local socket named after the file (on Linux in the abstract namespace, which every user
/// of the machine shares and a service's private /tmp does not hide; on Windows a named
/// mutex decides who is first); a later one asks it who it is and, when both have windows,
/// asks it to bring its window forward.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Windowed, Headless };

    /// Who runs already.
    struct Other
    {
        Kind kind = Kind::Windowed;
        qint64 pid = 0;        ///< 0 when it did not say
        bool answered = false; ///< it said who it is (else it holds the name but is silent)
    };

    SingleInstance(const QString &settingsFile, Kind kind, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// Makes this process the instance for its settings file. Returns false when another
    /// is, with who it is in `other`; a windowed one has then been asked to show its window
    /// when this one is windowed too.
    bool claim(Other *other);

    /// The socket's name for `settingsFile`: the same for every name of one file.
    static QString socketName(const QString &settingsFile);
    /// What a second start says: "Orvantide already runs for the settings file "...": the
    /// service (--headless) (process 1234)."
    static QString alreadyRuns(const QString &settingsFile, const Other &other);

signals:
    /// A second windowed start asked for the window.
    void showRequested();

private:
    void answer();
    /// Asks the instance listening on the name who it is. False when none answers.
    bool ask(Other *other);

    QString m_name;
    Kind m_kind;
    QLocalServer *m_server;
    void *m_mutex = nullptr; ///< Windows: the HANDLE of the mutex that makes this one first
};
