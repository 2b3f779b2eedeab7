#include "StopRequest.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<void (*)(int)> stopHandler{nullptr};
std::atomic<bool> secondEnds{false};
std::atomic<bool> stopSeen{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (!ConsoleStopScope::HandleEvent(event))
        return FALSE;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process as soon as this returns: wait here, so that the command
        // stops and cleans up; its end (leaving main) ends this thread with the process.
        Sleep(INFINITE);
    }
    return TRUE;
}
#endif

} // namespace

ConsoleStopScope::ConsoleStopScope(void (*onStop)(int signal), bool secondEndsProcess)
{
    secondEnds = secondEndsProcess;
    stopSeen = false;
    stopHandler = onStop;
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#endif
}

ConsoleStopScope::~ConsoleStopScope()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#endif
    stopHandler = nullptr;
}

int ConsoleStopScope::SignalForEvent(unsigned long event)
{
    constexpr unsigned long CtrlCEvent = 0; // CTRL_C_EVENT
    return event == CtrlCEvent ? SIGINT : SIGTERM;
}

bool ConsoleStopScope::HandleEvent(unsigned long event)
{
    void (*handler)(int) = stopHandler.load();
    if (!handler)
        return false;
    if (stopSeen.exchange(true) && secondEnds)
        return false;
    handler(SignalForEvent(event));
    return true;
}
