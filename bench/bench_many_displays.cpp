// Many displays from one PC: one orvantide-service --displays FOLDER serving N settings
// files (or, with --instances, N instances of it, one per settings file), one
// pseudo-terminal each, all read by one reader at real-time priority. Each display gets
// its start-up frame and a frame after each SIGHUP (sent to every process at once). Beside it, from the same run and the same
// reader, the floor: one writer at SCHED_FIFO 20 that sleeps to the moment and writes the
// frame to all N ports in a loop. The offset is when the frame's bytes are there to read,
// against the moment one frame's line time before the second. Also the memory (the sum of
// the instances' proportional set sizes) and the processor time per display.
//
//   bench_many_displays --service build/orvantide-service --displays 100 [--rounds 4]
//                       [--ser2net] [--instances]
//
// With --ser2net each instance reaches its port through a ser2net of its own on the
// loopback, as rfc2217://127.0.0.1:PORT.

#include "core/LineSettings.h"
#include "core/TimeFrame.h"
#include "platform/ser2net.h"
#include "stats.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <atomic>
#include <memory>
#include <vector>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <mutex>
#include <pty.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

constexpr qint64 kSecondNs = 1'000'000'000;

qint64 realNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * kSecondNs + t.tv_nsec;
}

void realTime(int priority)
{
    sched_param p{};
    p.sched_priority = priority;
    ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &p);
    ::prctl(PR_SET_TIMERSLACK, 1UL);
}

struct Port
{
    int master = -1;
    int slave = -1;
    QString path;
};

/// Reads every port at SCHED_FIFO 80 and keeps the offset of each read that brought bytes.
class Reader
{
public:
    Reader(const QVector<Port> &ports, qint64 lineNs) : m_lineNs(lineNs)
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < ports.size(); ++i) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.fd = ports[i].master;
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, ports[i].master, &e);
        }
        m_thread = std::thread([this] { run(); });
    }
    ~Reader()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_epoll);
    }
    /// The offsets so far, in ms; cleared.
    QVector<double> take()
    {
        const std::lock_guard guard(m_lock);
        return std::exchange(m_offsets, {});
    }
    int count()
    {
        const std::lock_guard guard(m_lock);
        return int(m_offsets.size());
    }

private:
    void run()
    {
        realTime(80);
        epoll_event events[64];
        while (!m_stop) {
            const int n = ::epoll_wait(m_epoll, events, 64, 100);
            const qint64 now = realNs();
            for (int i = 0; i < n; ++i) {
                char buffer[256];
                if (::read(events[i].data.fd, buffer, sizeof buffer) <= 0)
                    continue;
                const qint64 second = (now + m_lineNs + kSecondNs / 2) / kSecondNs * kSecondNs;
                const std::lock_guard guard(m_lock);
                m_offsets << double(now - (second - m_lineNs)) / 1e6;
            }
        }
    }

    qint64 m_lineNs;
    int m_epoll = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    QVector<double> m_offsets;
    std::thread m_thread;
};

/// The floor: one writer that sleeps to each moment and writes the frame to every port.
void floorWriter(const QVector<Port> &ports, qint64 lineNs, int rounds)
{
    std::thread([&] {
        realTime(20);
        for (int r = 0; r < rounds; ++r) {
            const qint64 moment = (realNs() / kSecondNs + 2) * kSecondNs - lineNs;
            const timespec at{time_t(moment / kSecondNs), long(moment % kSecondNs)};
            ::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr);
            const QByteArray frame = TimeFrame(QTime::currentTime().addSecs(1));
            for (const Port &port : ports)
                (void)!::write(port.slave, frame.constData(), size_t(frame.size()));
        }
    }).join();
}

qint64 field(const QString &path, const QByteArray &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    return 0;
}

/// Processor time of `pid` in ms (user and system).
double cpuMs(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (f.value(11).toDouble() + f.value(12).toDouble()) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

bool waitFor(Reader &reader, int frames, int ms)
{
    for (int waited = 0; reader.count() < frames; waited += 10) {
        if (waited > ms)
            return false;
        ::usleep(10'000);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"service", "orvantide-service to run", "path"});
    parser.addOption({"displays", "how many", "n", "10"});
    parser.addOption({"rounds", "SIGHUPs sent to all", "n", "4"});
    parser.addOption({"ser2net", "each port through a ser2net of its own, as RFC 2217"});
    parser.addOption({"instances", "one instance per display instead of one process"});
    parser.process(app);
    const int n = parser.value("displays").toInt();
    const int rounds = parser.value("rounds").toInt();
    LineSettings line;
    const qint64 lineNs = line.lineTimeNs(TimeFrame(QTime(0, 0)).size());

    QVector<Port> ports(n);
    for (Port &port : ports) {
        char name[256] = {};
        if (::openpty(&port.master, &port.slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "openpty failed at %d ports\n", int(&port - ports.data()));
            return 1;
        }
        termios tio{};
        ::tcgetattr(port.slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(port.slave, TCSANOW, &tio);
        port.path = QString::fromLocal8Bit(name);
    }
    Reader reader(ports, lineNs);

    floorWriter(ports, lineNs, rounds + 1);
    ::usleep(100'000);
    const Figures floor = figuresOf(reader.take());

    std::vector<std::unique_ptr<Ser2net>> servers;
    if (parser.isSet("ser2net")) {
        for (const Port &port : ports) {
            servers.push_back(std::make_unique<Ser2net>());
            if (!servers.back()->start(port.path, true)) {
                std::fprintf(stderr, "bench: ser2net did not start (apt-get install ser2net)\n");
                return 1;
            }
        }
    }
    QTemporaryDir dir;
    QVector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        const QString ini = dir.filePath(QStringLiteral("display%1.ini").arg(i));
        QFile file(ini);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(QStringLiteral("[Settings]\r\nCommPort=%1\r\nSetting=9600,N,8,1\r\n"
                                  "[Sync]\r\nInterval=60\r\n")
                       .arg(servers.empty() ? ports[i].path
                                            : QStringLiteral("rfc2217://127.0.0.1:%1")
                                                  .arg(servers[size_t(i)]->port))
                       .toUtf8());
        file.close();
    }
    const QByteArray service = parser.value("service").toLocal8Bit();
    const auto run = [&](const char *option, const QString &value) {
        const QByteArray argument = value.toLocal8Bit();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execl(service.constData(), service.constData(), option, argument.constData(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        pids << pid;
    };
    if (parser.isSet("instances")) {
        for (int i = 0; i < n; ++i)
            run("--settings", dir.filePath(QStringLiteral("display%1.ini").arg(i)));
    } else {
        run("--displays", dir.path());
    }
    const bool started = waitFor(reader, n, 10'000 + 100 * n);
    for (int r = 0; started && r < rounds; ++r) {
        const int before = reader.count();
        for (const pid_t pid : pids)
            ::kill(pid, SIGHUP);
        waitFor(reader, before + n, 5000);
        ::usleep(300'000);
    }
    const Figures program = figuresOf(reader.take());
    qint64 pssKiB = 0;
    double cpu = 0;
    for (const pid_t pid : pids) {
        pssKiB += field(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss:");
        cpu += cpuMs(pid);
    }
    for (const pid_t pid : pids) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    QTextStream out(stdout);
    out << "displays " << n << (servers.empty() ? "" : " through ser2net")
        << (parser.isSet("instances") ? ", one instance each" : ", one process")
        << ": the program's frames, ms after the moment: " << describe(program)
        << "\n  the one-writer floor, same reader:         " << describe(floor)
        << "\n  memory " << QString::number(double(pssKiB) / 1024, 'f', 1) << " MiB (sum of PSS), "
        << QString::number(double(pssKiB) / 1024 / n, 'f', 2) << " MiB and "
        << QString::number(cpu / n, 'f', 1) << " ms of processor time a display\n";
    return started && program.count >= n * (rounds + 1) ? 0 : 1;
}
