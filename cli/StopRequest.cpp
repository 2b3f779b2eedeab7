#include "StopRequest.h"

#include <atomic>
#include <csignal>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<void (*)(int)> stopHandler{nullptr};
std::atomic<bool> secondEnds{false};
std::atomic<bool> stopSeen{false};

// Set from a signal handler, or on Windows from the console's event thread.
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

void OnStopSignal(int signal)
{
    stopSignal.store(signal, std::memory_order_relaxed);
    stopRequested.store(true, std::memory_order_relaxed);
}

#ifdef _WIN32
std::unique_ptr<ConsoleStopScope> console;
#else
struct sigaction previousInt {};
struct sigaction previousTerm {};
#endif

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

CommandStopScope::CommandStopScope(bool secondEndsProcess)
{
    stopRequested = false;
    stopSignal = 0;
#ifdef _WIN32
    console = std::make_unique<ConsoleStopScope>(OnStopSignal, secondEndsProcess);
#else
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Without SA_RESETHAND the handler stays for every further signal.
    action.sa_flags = secondEndsProcess ? SA_RESETHAND : 0;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
#endif
}

CommandStopScope::~CommandStopScope()
{
#ifdef _WIN32
    console.reset();
#else
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
#endif
}

bool CommandStopScope::Requested()
{
    return stopRequested.load(std::memory_order_relaxed);
}

const std::atomic<bool>* CommandStopScope::Flag()
{
    return &stopRequested;
}

int CommandStopScope::Signal()
{
    return stopSignal.load(std::memory_order_relaxed);
}

int CommandStopScope::ExitCode()
{
    const int signal = Signal();
    return 128 + (signal != 0 ? signal : SIGINT);
}
