#include "platform/LogOutput.h"

#include "core/Log.h"

#include <QMessageLogContext>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace LogOutput {
namespace {

/// Lines waiting for the writer; past this, new ones are dropped.
constexpr std::size_t kMaxQueued = 512;

class Writer
{
public:
    void post(QByteArray line)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= kMaxQueued) {
            ++m_dropped;
            ++m_droppedTotal;
            return;
        }
        m_queue.push_back(std::move(line));
        if (!m_started) {
            m_started = true;
            std::thread([this] { run(); }).detach();
        }
        m_wake.notify_one();
    }

    void flush(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return m_queue.empty() && !m_writing; });
    }

    quint64 dropped()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_droppedTotal;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty(); });
            QByteArray line = std::move(m_queue.front());
            m_queue.pop_front();
            const quint64 dropped = m_dropped;
            m_dropped = 0;
            m_writing = true;
            lock.unlock();
            if (dropped > 0)
                writeAll(QByteArray::number(dropped) +
                         " log lines were dropped: standard error did not take them\n");
            writeAll(line);
            lock.lock();
            m_writing = false;
            if (m_queue.empty())
                m_idle.notify_all();
        }
    }

    static void writeAll(const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
#ifdef Q_OS_UNIX
            const auto n = ::write(2, bytes.constData() + done, size_t(bytes.size() - done));
#else
            const auto n = ::_write(2, bytes.constData() + done, unsigned(bytes.size() - done));
#endif
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return; // a reader gone, a closed descriptor: the line is lost, not the program
            done += n;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<QByteArray> m_queue;
    quint64 m_dropped = 0;
    quint64 m_droppedTotal = 0;
    bool m_started = false;
    bool m_writing = false;
};

/// Never destroyed: its thread may be inside a write when the program ends.
Writer &writer()
{
    static Writer *const instance = new Writer;
    return *instance;
}

Sink g_sink = Sink::Plain;

void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    writer().post(formatLine(type, message, g_sink, QDateTime::currentDateTime()));
    if (type == QtFatalMsg) {
        flush(1000);
        std::abort();
    }
}

} // namespace

QByteArray formatLine(QtMsgType type, const QString &message, Sink sink, const QDateTime &time)
{
    const QString display = LogScope::current();
    QString text = display.isEmpty() ? message : display + QLatin1String(": ") + message;
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    QByteArray prefix;
    if (sink == Sink::Journal) {
        switch (type) {
        case QtFatalMsg:
        case QtCriticalMsg:
            prefix = "<3>";
            break;
        case QtWarningMsg:
            prefix = "<4>";
            break;
        case QtInfoMsg:
            prefix = "<5>";
            break;
        case QtDebugMsg:
            prefix = "<6>";
            break;
        }
    } else {
        prefix = time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8();
    }
    return prefix + text.toLocal8Bit() + '\n';
}

Sink standardErrorSink()
{
#ifdef Q_OS_UNIX
    // systemd sets JOURNAL_STREAM to "device:inode" of the stream it connects.
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat st;
    if (!stream.isEmpty() && ::fstat(2, &st) == 0 &&
        stream ==
            QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)))
        return Sink::Journal;
#endif
    return Sink::Plain;
}

void install()
{
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    g_sink = standardErrorSink();
    qInstallMessageHandler(handle);
    std::atexit([] { flush(kFlushAtEndMs); });
}

void flush(int timeoutMs)
{
    writer().flush(timeoutMs);
}

quint64 dropped()
{
    return writer().dropped();
}

} // namespace LogOutput
