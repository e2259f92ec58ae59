// Sync offset: frames sent through the program's real send path (the synchronisation
// core on a real serial link) to a pseudo-terminal, measured by the display emulator,
// against an immediate sender that writes a frame as soon as it is asked for.
//
//   bench_sync_offset --emulator build/display-emulator [--count 200]

#include "core/Clock.h"
#include "core/MainView.h"
#include "core/Synchroniser.h"
#include "core/TimeFrame.h"
#include "core/modINI.h"
#include "core/modVariables.h"
#include "platform/LineSettings.h"
#include "platform/PosixSerialLink.h"
#include "stats.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {

class RequestingView : public MainView
{
public:
    std::function<void()> onSynced;
    void setClockText(const QString &) override {}
    void setStatusText(const QString &text, const QString &detail) override
    {
        if (!text.startsWith(QLatin1String("Last Sync at "))) {
            std::fprintf(stderr, "bench: %s %s\n", qPrintable(text), qPrintable(detail));
            QCoreApplication::exit(1);
        } else if (onSynced) {
            onSynced();
        }
    }
    void minimise() override {}
    void showSettingsError(const QString &message) override
    {
        std::fprintf(stderr, "bench: %s\n", qPrintable(message));
        QCoreApplication::exit(1);
    }
};

/// Signed offsets (display ahead of the host > 0) of the frames the emulator reported.
QVector<double> offsets(QProcess &emulator)
{
    QVector<double> values;
    for (const QByteArray &line : emulator.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")).toString() == QLatin1String("frame"))
            values << o.value(QStringLiteral("offset_ms")).toDouble();
    }
    return values;
}

QVector<double> absolute(QVector<double> values)
{
    for (double &v : values)
        v = std::abs(v);
    return values;
}

QString spread(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.isEmpty())
        return {};
    auto at = [&](double q) {
        return values.at(std::min(int(values.size()) - 1, int(q * values.size())));
    };
    return QStringLiteral("signed: min %1  p1 %2  median %3  p99 %4  max %5")
        .arg(values.first(), 0, 'f', 3)
        .arg(at(0.01), 0, 'f', 3)
        .arg(at(0.5), 0, 'f', 3)
        .arg(at(0.99), 0, 'f', 3)
        .arg(values.last(), 0, 'f', 3);
}

bool startEmulator(QProcess &emulator, const QString &program, const QString &link, int count,
                   bool busyRead)
{
    QStringList arguments{QStringLiteral("--pty"), link, QStringLiteral("--json"),
                          QStringLiteral("--count"), QString::number(count)};
    if (busyRead)
        arguments << QStringLiteral("--busy-read");
    emulator.start(program, arguments);
    if (!emulator.waitForStarted())
        return false;
    for (int i = 0; i < 100 && !QFileInfo(link).isSymLink(); ++i)
        QThread::msleep(50);
    return QFileInfo(link).isSymLink();
}

/// From the program's log: when each write started and was done, in ms after its moment.
QVector<double> g_writeStartMs;
QVector<double> g_writeDoneMs;

void collectLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    static const QRegularExpression times(
        QStringLiteral("started (-?[0-9]+) us after its moment, done after (-?[0-9]+) us"));
    const QRegularExpressionMatch m = times.match(message);
    if (m.hasMatch()) {
        g_writeStartMs << m.captured(1).toDouble() / 1000.0;
        g_writeDoneMs << m.captured(2).toDouble() / 1000.0;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvantide.sync.info=true"));
    qInstallMessageHandler(collectLog);
    QCommandLineParser parser;
    const QCommandLineOption emulatorOption(
        QStringLiteral("emulator"), QStringLiteral("display-emulator"), QStringLiteral("path"));
    const QCommandLineOption countOption(QStringLiteral("count"), QStringLiteral("frames"),
                                         QStringLiteral("n"), QStringLiteral("200"));
    // The emulator that times the program's frames reads without sleeping unless told
    // otherwise: on a virtual machine, waking its sleeping processor now and then costs a
    // few milliseconds that belong to the measurement, not to the program.
    const QCommandLineOption sleepingReaderOption(
        QStringLiteral("sleeping-reader"),
        QStringLiteral("time the program's frames with a reader that sleeps between reads"));
    parser.addOptions({emulatorOption, countOption, sleepingReaderOption});
    parser.process(app);
    const int count = parser.value(countOption).toInt();
    const bool busyRead = !parser.isSet(sleepingReaderOption);

    QTemporaryDir dir;
    const QString alignedLink = dir.filePath(QStringLiteral("aligned"));
    const QString immediateLink = dir.filePath(QStringLiteral("immediate"));
    QProcess alignedEmulator;
    QProcess immediateEmulator;
    // The immediate sender's offsets run to hundreds of milliseconds; a sleeping reader
    // times them well enough and leaves the second processor to the program.
    if (!startEmulator(alignedEmulator, parser.value(emulatorOption), alignedLink, count,
                       busyRead) ||
        !startEmulator(immediateEmulator, parser.value(emulatorOption), immediateLink, count,
                       false)) {
        std::fprintf(stderr, "bench: the display emulator did not start\n");
        return 1;
    }

    QFile ini(dir.filePath(QStringLiteral("orvtide.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[Settings]\r\nCommPort=" + alignedLink.toUtf8() +
              "\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=0\r\n");
    ini.close();
    modINI::setAppFolder(dir.path());

    // The program's path: each frame asks for the next at a random moment.
    modVariables settings;
    PosixSerialLink link;
    SystemClock clock;
    RequestingView view;
    Synchroniser sync(settings, link, clock, view);
    int aligned = 0;
    view.onSynced = [&] {
        if (++aligned < count)
            QTimer::singleShot(QRandomGenerator::global()->bounded(10, 700), &sync,
                               &Synchroniser::SendTimePacket);
    };
    if (sync.startUp() != Synchroniser::StartUpResult::Started)
        return 1;

    // The baseline: the frame of the moment, written at once, at random moments.
    PosixSerialLink immediate;
    QString error;
    if (!immediate.open(immediateLink, LineSettings(), &error)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    int sent = 0;
    QTimer immediateTimer;
    immediateTimer.setTimerType(Qt::PreciseTimer);
    immediateTimer.setSingleShot(true);
    QObject::connect(&immediateTimer, &QTimer::timeout, [&] {
        QString e;
        immediate.write(TimeFrame(QTime::currentTime()), &e);
        if (++sent < count)
            immediateTimer.start(QRandomGenerator::global()->bounded(500, 1500));
    });
    immediateTimer.start(100);

    std::printf("sync offset: %d frames each, 9600,N,8,1, |offset| in ms; the program's "
                "frames timed by a %s reader\n",
                count, busyRead ? "busy" : "sleeping");
    std::fflush(stdout);
    QObject::connect(&alignedEmulator, &QProcess::finished, [&] {
        if (immediateEmulator.state() == QProcess::NotRunning)
            app.quit();
    });
    QObject::connect(&immediateEmulator, &QProcess::finished, [&] {
        if (alignedEmulator.state() == QProcess::NotRunning)
            app.quit();
    });
    if (app.exec() != 0)
        return 1;

    const QVector<double> alignedOffsets = offsets(alignedEmulator);
    const QVector<double> immediateOffsets = offsets(immediateEmulator);
    const Figures a = figuresOf(absolute(alignedOffsets));
    const Figures b = figuresOf(absolute(immediateOffsets));
    std::printf("  aligned (program)   %s\n", qPrintable(describe(a)));
    std::printf("                      %s\n", qPrintable(spread(alignedOffsets)));
    std::printf("  program's own log, ms after the write's moment:\n");
    std::printf("    write started     %s\n", qPrintable(describe(figuresOf(g_writeStartMs))));
    std::printf("    write done        %s\n", qPrintable(describe(figuresOf(g_writeDoneMs))));
    std::printf("  immediate sender    %s\n", qPrintable(describe(b)));
    std::printf("                      %s\n", qPrintable(spread(immediateOffsets)));
    std::printf("  ratio immediate/aligned: median %.0fx  p99 %.0fx\n", b.median / a.median,
                b.p99 / a.p99);
    std::printf("  goal p99 <= 2 ms: %s\n", a.p99 <= 2.0 ? "met" : "NOT met");
    return 0;
}
