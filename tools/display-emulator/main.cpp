// display-emulator: plays the serial clock display for tests, the demo and measurements.
//
// It reads the byte stream the program sends, decodes the time frames in it, keeps the
// display's own clock (set to a frame's time when its last byte arrives, then running
// freely) and prints one line per frame, or per malformed stretch.

#include "FrameDecoder.h"
#include "WireTiming.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

char g_link[4096] = {};

void removeLinkAndExit(int)
{
    if (g_link[0])
        ::unlink(g_link);
    ::_exit(0);
}

[[noreturn]] void die(const QString &message)
{
    std::fprintf(stderr, "display-emulator: %s\n", qPrintable(message));
    if (g_link[0])
        ::unlink(g_link);
    std::exit(1);
}

void makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

/// The host's clock, in microseconds since the epoch.
qint64 realtimeUs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

class Display
{
public:
    bool json = false;
    int wanted = 0;
    int frames = 0;

    void frame(const QByteArray &bytes, const QTime &time, qint64 receivedUs,
               const QString &lineSettings)
    {
        const QDateTime received = QDateTime::fromMSecsSinceEpoch(receivedUs / 1000);
        const QString before = m_set ? shown().toString(QStringLiteral("HH:mm:ss.zzz")) : QString();
        m_time = time;
        m_since.start();
        m_set = true;
        const double offset = offsetMs(time, receivedUs);
        if (json) {
            QJsonObject line{
                {QStringLiteral("event"), QStringLiteral("frame")},
                {QStringLiteral("bytes"), hex(bytes)},
                {QStringLiteral("time"), time.toString(QStringLiteral("HH:mm:ss"))},
                {QStringLiteral("received"),
                 received.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))},
                {QStringLiteral("offset_ms"), offset},
                {QStringLiteral("display_before"),
                 before.isEmpty() ? QJsonValue() : QJsonValue(before)},
                {QStringLiteral("line"),
                 lineSettings.isEmpty() ? QJsonValue() : QJsonValue(lineSettings)},
            };
            print(QJsonDocument(line).toJson(QJsonDocument::Compact));
        } else {
            print(QStringLiteral("%1  %2  received %3  offset %4 ms%5")
                      .arg(time.toString(QStringLiteral("HH:mm:ss")), hex(bytes),
                           received.toString(QStringLiteral("HH:mm:ss.zzz")))
                      .arg(offset, 0, 'f', 3)
                      .arg(before.isEmpty() ? QString()
                                            : QStringLiteral("  (display showed %1)").arg(before))
                      .toUtf8());
        }
        if (wanted > 0 && ++frames >= wanted)
            QCoreApplication::exit(0);
    }

    void garbage(const QByteArray &bytes, qint64 receivedUs)
    {
        const QDateTime received = QDateTime::fromMSecsSinceEpoch(receivedUs / 1000);
        if (json) {
            QJsonObject line{
                {QStringLiteral("event"), QStringLiteral("malformed")},
                {QStringLiteral("bytes"), hex(bytes)},
                {QStringLiteral("received"),
                 received.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))},
            };
            print(QJsonDocument(line).toJson(QJsonDocument::Compact));
        } else {
            print(QStringLiteral("malformed  %1  (%2 bytes skipped)")
                      .arg(hex(bytes))
                      .arg(bytes.size())
                      .toUtf8());
        }
    }

private:
    QTime shown() const { return m_time.addMSecs(int(m_since.elapsed() % (24 * 3600 * 1000))); }

    static void print(const QByteArray &line)
    {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    QTime m_time;
    QElapsedTimer m_since;
    bool m_set = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("display-emulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the serial clock display: decodes the time frames it receives "
                       "and prints one line for each."));
    parser.addHelpOption();
    const QCommandLineOption ptyOption(
        QStringLiteral("pty"),
        QStringLiteral("Create a pseudo-terminal and make <link> a symbolic link to it."),
        QStringLiteral("link"));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Read an existing tty <path>."),
                                          QStringLiteral("path"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print each line as a JSON object."));
    const QCommandLineOption countOption(
        QStringLiteral("count"), QStringLiteral("End after <n> frames."), QStringLiteral("n"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("End after <s> seconds (exit status 1 if --count frames were not seen)."),
        QStringLiteral("s"));
    const QCommandLineOption busyReadOption(
        QStringLiteral("busy-read"),
        QStringLiteral("Read without ever sleeping, so a frame's arrival is timed without the "
                       "wake-up delay of a sleeping reader. For measurements: it keeps one "
                       "processor busy."));
    parser.addOptions(
        {ptyOption, deviceOption, jsonOption, countOption, timeoutOption, busyReadOption});
    parser.process(app);

    if (parser.isSet(ptyOption) == parser.isSet(deviceOption))
        die(QStringLiteral("give exactly one of --pty LINK and --device PATH"));

    Display display;
    display.json = parser.isSet(jsonOption);
    if (parser.isSet(countOption)) {
        bool ok = false;
        display.wanted = parser.value(countOption).toInt(&ok);
        if (!ok || display.wanted < 1)
            die(QStringLiteral("--count takes a whole number above 0"));
    }

    int fd = -1;
    int slaveFd = -1;
    if (parser.isSet(ptyOption)) {
        const QByteArray link = QFile::encodeName(parser.value(ptyOption));
        if (size_t(link.size()) >= sizeof g_link)
            die(QStringLiteral("the link path is too long"));
        fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
            die(QStringLiteral("cannot create a pseudo-terminal: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
        const char *slave = ::ptsname(fd);
        // Holding the slave open keeps the master readable while no sender is connected.
        slaveFd = ::open(slave, O_RDWR | O_NOCTTY);
        if (slaveFd < 0)
            die(QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(slave)));
        makeRaw(slaveFd);
        makeRaw(fd);
        std::memcpy(g_link, link.constData(), size_t(link.size()));
        ::unlink(g_link);
        if (::symlink(slave, g_link) != 0) {
            g_link[0] = 0;
            die(QStringLiteral("cannot create the link %1: %2")
                    .arg(parser.value(ptyOption), QString::fromLocal8Bit(std::strerror(errno))));
        }
        std::signal(SIGTERM, removeLinkAndExit);
        std::signal(SIGINT, removeLinkAndExit);
        std::signal(SIGHUP, removeLinkAndExit);
        std::fprintf(stderr, "display-emulator: %s -> %s\n", g_link, slave);
    } else {
        const QByteArray path = QFile::encodeName(parser.value(deviceOption));
        fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            die(QStringLiteral("cannot open %1: %2")
                    .arg(parser.value(deviceOption), QString::fromLocal8Bit(std::strerror(errno))));
        makeRaw(fd);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    int exitCode = 0;
    if (parser.isSet(timeoutOption)) {
        bool ok = false;
        const double seconds = parser.value(timeoutOption).toDouble(&ok);
        if (!ok || seconds <= 0)
            die(QStringLiteral("--timeout takes a number of seconds above 0"));
        QTimer::singleShot(int(seconds * 1000), &app,
                           [&] { QCoreApplication::exit(display.wanted > 0 ? 1 : 0); });
    }

    FrameDecoder decoder;
    // A frame counts as arrived when its last byte would have left the line.
    qint64 receivedUs = 0;
    decoder.onFrame = [&](const QByteArray &bytes, const QTime &time) {
        // The sender's speed and framing are those of the slave side of a pseudo-terminal.
        const int settingsFd = slaveFd >= 0 ? slaveFd : fd;
        termios tio{};
        const bool known = ::tcgetattr(settingsFd, &tio) == 0;
        const qint64 lineTimeUs = known ? frameLineTimeUs(tio, int(bytes.size())) : 0;
        display.frame(bytes, time, receivedUs + lineTimeUs,
                      known ? lineSettingsText(tio) : QString());
    };
    decoder.onGarbage = [&](const QByteArray &bytes) { display.garbage(bytes, receivedUs); };

    // The reader waits on the device in a thread of its own and takes the time as soon
    // as the bytes are there, whatever the event loop is doing. A busy reader never
    // sleeps: on a virtual machine, waking a sleeping processor now and then takes
    // milliseconds, which a real line and display don't have.
    const bool busyRead = parser.isSet(busyReadOption);
    std::atomic<bool> stopReading{false};
    std::thread reader([&] {
        char buffer[256];
        while (!stopReading) {
            pollfd p{fd, POLLIN, 0};
            if (!busyRead && ::poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            const qint64 us = realtimeUs();
            if (n > 0) {
                const QByteArray bytes(buffer, int(n));
                QMetaObject::invokeMethod(
                    &app,
                    [&, bytes, us] {
                        receivedUs = us;
                        decoder.feed(bytes);
                    },
                    Qt::QueuedConnection);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // End of input or an error: the device went away.
            QMetaObject::invokeMethod(
                &app,
                [&] {
                    decoder.flush();
                    QCoreApplication::exit(display.wanted > 0 ? 1 : 0);
                },
                Qt::QueuedConnection);
            return;
        }
    });

    exitCode = app.exec();
    stopReading = true;
    reader.join();
    decoder.flush();
    if (g_link[0])
        ::unlink(g_link);
    if (slaveFd >= 0)
        ::close(slaveFd);
    ::close(fd);
    return exitCode;
}
