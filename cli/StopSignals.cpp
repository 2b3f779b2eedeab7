#include "StopSignals.h"

#include <atomic>

#include "StopRequest.h"

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the stop signal is set from a signal handler");
std::atomic<int> stopSignal{0};

void OnStopSignal(int signal) { stopSignal.store(signal, std::memory_order_relaxed); }

} // namespace

StopSignalScope::StopSignalScope()
{
    stopSignal.store(0);
#ifdef _WIN32
    Console = std::make_unique<ConsoleStopScope>(OnStopSignal, true);
#else
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The handler is reset when it runs, so a second signal ends the process.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &PreviousInt);
    sigaction(SIGTERM, &action, &PreviousTerm);
#endif
}

StopSignalScope::~StopSignalScope()
{
#ifndef _WIN32
    sigaction(SIGINT, &PreviousInt, nullptr);
    sigaction(SIGTERM, &PreviousTerm, nullptr);
#endif
}

bool StopSignalScope::Requested() { return stopSignal.load(std::memory_order_relaxed) != 0; }

int StopSignalScope::ExitCode() { return 128 + stopSignal.load(std::memory_order_relaxed); }
