#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

/// Only what is safe in a signal handler: one write to the pipe.
void onSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    (void)!::write(g_pipe[1], &number, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (int signal : kSignals)
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::readPipe()
{
    // Whatever arrived since the last look is told once: a flood of reload requests is one
    // reload, and an end asked for meanwhile comes alone, before any of them.
    bool reload = false;
    int end = 0;
    unsigned char numbers[256];
    for (ssize_t n; (n = ::read(g_pipe[0], numbers, sizeof numbers)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (numbers[i] == SIGHUP)
                reload = true;
            else if (end == 0)
                end = numbers[i];
        }
    }
    if (end != 0)
        emit received(end);
    else if (reload)
        emit received(SIGHUP);
}

#else

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}
TerminationSignals::~TerminationSignals() = default;
void TerminationSignals::readPipe() {}

#endif
