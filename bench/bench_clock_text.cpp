// Clock text: the delay between the PC clock's change of second and the clock text's
// change, for the program's Timer1 and for a repeating 1000 ms timer, run side by side.
//
//   bench_clock_text [--seconds 120]

#include "core/Clock.h"
#include "core/ClockTicker.h"
#include "stats.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {

qint64 realtimeUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Change
{
    qint64 us;
    QString text;
};

/// Delays (ms) from the start of each shown second to the text's change, and how often a
/// second was skipped or shown twice.
struct Analysis
{
    QVector<double> delays;
    int skipped = 0;
    int repeated = 0;
};

Analysis analyse(const QVector<Change> &changes)
{
    Analysis a;
    for (int i = 1; i < changes.size(); ++i) {
        const QTime previous =
            QTime::fromString(changes.at(i - 1).text, QStringLiteral("HH:mm:ss"));
        const QTime shown = QTime::fromString(changes.at(i).text, QStringLiteral("HH:mm:ss"));
        const int step = previous.secsTo(shown);
        if (step == 0) {
            ++a.repeated;
            continue;
        }
        if (step > 1)
            a.skipped += step - 1;
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(changes.at(i).us / 1000);
        const qint64 secondStartUs = QDateTime(at.date(), shown).toMSecsSinceEpoch() * 1000;
        a.delays << double(changes.at(i).us - secondStartUs) / 1000.0;
    }
    return a;
}

void report(const char *name, const Analysis &a)
{
    std::printf("  %-20s %s  skipped %d  repeated %d\n", name,
                qPrintable(describe(figuresOf(a.delays))), a.skipped, a.repeated);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("duration"),
                                           QStringLiteral("s"), QStringLiteral("120"));
    parser.addOption(secondsOption);
    parser.process(app);
    const int seconds = parser.value(secondsOption).toInt();

    SystemClock clock;
    ClockTicker ticker(clock);
    QVector<Change> program;
    QObject::connect(&ticker, &ClockTicker::secondChanged, [&](const QTime &time) {
        program.append({realtimeUs(), time.toString(QStringLiteral("HH:mm:ss"))});
    });
    ticker.start(); // arms Timer1, which then keeps itself going

    QVector<Change> baseline;
    QTimer repeating;
    repeating.setInterval(1000);
    QObject::connect(&repeating, &QTimer::timeout, [&] {
        baseline.append({realtimeUs(), QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))});
    });
    repeating.start();

    std::printf("clock text: %d s, delay from the change of second in ms\n", seconds);
    std::fflush(stdout);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();

    const Analysis a = analyse(program.mid(1));
    const Analysis b = analyse(baseline);
    report("Timer1 (program)", a);
    report("repeating 1000 ms", b);
    const Figures fa = figuresOf(a.delays);
    const Figures fb = figuresOf(b.delays);
    std::printf("  ratio repeating/program: median %.0fx  p99 %.0fx\n", fb.median / fa.median,
                fb.p99 / fa.p99);
    return 0;
}
