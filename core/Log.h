#pragma once

#include <QLoggingCategory>

/// What the synchronisation does. Warnings (a failed open or write, a lost port, the PC
/// clock not synchronised) are on by default; info (start-up, the port opened, a
/// reconnect) with QT_LOGGING_RULES="orvantide.sync.info=true"; debug adds each frame sent
/// ("orvantide.sync.debug=true"). The service turns all of it on.
Q_DECLARE_LOGGING_CATEGORY(lcSync)

/// The display the log's lines are about, where one process serves many: while a scope
/// is open on a thread, the log's output puts "NAME: " before each line the thread writes.
class LogScope
{
public:
    explicit LogScope(const QString &display);
    ~LogScope();
    LogScope(const LogScope &) = delete;
    LogScope &operator=(const LogScope &) = delete;
    /// The display of the innermost scope open on this thread; empty for none.
    static QString current();
    /// Marks `object` as the present scope's display's, when a scope is open: what it
    /// and its children are sent is that display's work (see of()).
    static void tag(QObject *object);
    /// The display `object` or its nearest marked parent belongs to; empty for none.
    static QString of(const QObject *object);

private:
    const QString m_display;
    const QString *m_outer; ///< the scope this one is within, or none
};
