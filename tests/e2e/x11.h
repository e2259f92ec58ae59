#pragma once
// Helpers for end-to-end tests that drive the program as a user would, on the X server
// named by DISPLAY.

#include <QProcess>
#include <QStringList>
#include <QTest>

/// How long a loaded machine may take to map, show or hide a window, or to start a tray:
/// an upper bound for waits that end as soon as the condition holds, so that a busy
/// processor (a build, stress-ng) slows the desktop tests down without failing them.
constexpr int kSettleMs = 30000;

/// Runs a helper that checks, and ends the test function when the helper failed.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

/// Runs `tool` with `arguments`; its exit status and, in `output`, what it printed.
inline int runTool(const QString &tool, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitCode();
}

inline int xdotool(const QStringList &arguments, QByteArray *output = nullptr)
{
    return runTool(QStringLiteral("xdotool"), arguments, output);
}

/// The windows xdotool finds for `arguments` of its search command.
inline QStringList xwindows(const QStringList &arguments)
{
    QByteArray out;
    xdotool(QStringList{QStringLiteral("search")} + arguments, &out);
    return QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

/// The environment for the program under test: a real X server where there is one.
inline QProcessEnvironment programEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.value(QStringLiteral("DISPLAY")).isEmpty())
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

inline void stopProcess(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}
