#include "platform/WindowsService.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include <windows.h>

namespace {

enum class Start { Unknown, ByManager, Otherwise };

struct State
{
    std::mutex lock;
    std::condition_variable changed;
    Start start = Start::Unknown;
    bool stopped = false; ///< the manager has been told, and its thread may end the program
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    std::function<void()> stop;
    std::function<void()> reload;
};

State &state()
{
    static State instance;
    return instance;
}

/// Tells the manager `current`, with the controls the service takes while it runs.
void report(DWORD current, DWORD exitCode = NO_ERROR)
{
    State &s = state();
    const std::lock_guard guard(s.lock);
    if (!s.handle)
        return;
    s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.status.dwCurrentState = current;
    s.status.dwControlsAccepted =
        current == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
            : 0;
    s.status.dwWin32ExitCode = exitCode ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    s.status.dwServiceSpecificExitCode = DWORD(exitCode);
    // A pending state asks the manager to wait; the hint is generous for a slow port.
    s.status.dwWaitHint =
        current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING ? 30000 : 0;
    if (current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING)
        ++s.status.dwCheckPoint;
    else
        s.status.dwCheckPoint = 0;
    SetServiceStatus(s.handle, &s.status);
}

DWORD WINAPI control(DWORD code, DWORD, LPVOID, LPVOID)
{
    State &s = state();
    std::function<void()> work;
    {
        const std::lock_guard guard(s.lock);
        if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN)
            work = s.stop;
        else if (code == SERVICE_CONTROL_PARAMCHANGE)
            work = s.reload;
        else if (code == SERVICE_CONTROL_INTERROGATE)
            return NO_ERROR;
        else
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (code != SERVICE_CONTROL_PARAMCHANGE)
        report(SERVICE_STOP_PENDING);
    if (work)
        work();
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPWSTR *)
{
    State &s = state();
    // The name is the manager's own for a service alone in its process.
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(L"", control, nullptr);
    {
        const std::lock_guard guard(s.lock);
        s.handle = handle;
        s.start = Start::ByManager;
    }
    report(SERVICE_START_PENDING);
    s.changed.notify_all();
}

} // namespace

bool WindowsService::startedByManager()
{
    State &s = state();
    // The dispatcher keeps its thread until the service has stopped; a start from a
    // console is refused at once.
    std::thread([] {
        static wchar_t name[] = L"";
        SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
        const bool dispatched = StartServiceCtrlDispatcherW(table);
        State &s = state();
        const std::lock_guard guard(s.lock);
        if (!dispatched)
            s.start = Start::Otherwise;
        s.changed.notify_all();
    }).detach();
    std::unique_lock guard(s.lock);
    s.changed.wait(guard, [&s] { return s.start != Start::Unknown; });
    return s.start == Start::ByManager;
}

void WindowsService::setControls(std::function<void()> stop, std::function<void()> reload)
{
    State &s = state();
    const std::lock_guard guard(s.lock);
    s.stop = std::move(stop);
    s.reload = std::move(reload);
}

void WindowsService::running()
{
    report(SERVICE_RUNNING);
}

void WindowsService::stopping()
{
    report(SERVICE_STOP_PENDING);
}

void WindowsService::stopped(int exitCode)
{
    report(SERVICE_STOPPED, DWORD(exitCode));
}
