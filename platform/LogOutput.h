#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

/// The program's log on standard error: one line per message, which never blocks the
/// program and never ends it.
///
/// Lines are handed to a thread of their own that writes them. Whoever reads standard error
/// (a terminal, a pipe, the journal's stream) may read slowly, not at all, or go away:
/// SIGPIPE is ignored, and lines that find the queue full are dropped and counted, the count
/// written with the next line that goes out. Frames and signals go on meanwhile.
namespace LogOutput {

/// Where standard error leads.
enum class Sink {
    Journal, ///< systemd's journal (JOURNAL_STREAM names standard error): a priority prefix
    Plain    ///< anything else: a local time stamp to the millisecond
};

/// The line written for a message of `type`. For the journal it starts with the priority
/// of sd-daemon(3): "<3>" an error (a critical message), "<4>" a warning, "<5>" a notice
/// (an info message: start-up, the port opened or lost, a reconnect), "<6>" info (a debug
/// message: each frame sent); elsewhere with the time, "2026-12-07 10:03:07.123 ". Line
/// breaks in the message become blanks, so that one message is one line.
QByteArray formatLine(QtMsgType type, const QString &message, Sink sink, const QDateTime &time);

/// Where standard error leads now.
Sink standardErrorSink();

/// How long the end of the program waits for its last lines: a reader of standard error
/// that takes nothing never holds it up for longer.
constexpr int kFlushAtEndMs = 500;

/// Ignores SIGPIPE and makes the program's messages go out this way; at the program's
/// end the lines still queued get kFlushAtEndMs to go out.
void install();

/// Waits until the queued lines are written or `timeoutMs` have passed; for the end of
/// the program.
void flush(int timeoutMs);

/// How many lines were dropped so far.
quint64 dropped();

} // namespace LogOutput
