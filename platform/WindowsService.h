#pragma once

#include <functional>

/// The service control manager's side of the service program on Windows. The manager
/// starts the program with nothing to tell it apart from a start at a console: the program
/// asks to be connected, and is a service when the manager takes it.
namespace WindowsService {

/// Connects to the service control manager on a thread of its own. True when the manager
/// started the program as a service; false when something else did (a console).
bool startedByManager();

/// What the manager asks of a running service: to stop (also at the computer's shut-down),
/// and to read its settings again (`sc control NAME paramchange`). Called on the manager's
/// thread; the functions hand the work to the event loop.
void setControls(std::function<void()> stop, std::function<void()> reload);

/// Tells the manager that the service runs (start-up has settled), is stopping, or has
/// stopped with `exitCode`, after which the program ends.
void running();
void stopping();
void stopped(int exitCode);

} // namespace WindowsService
