#pragma once
// SIGINT and SIGTERM (on Windows the console's control events, StopRequest.h) during a long
// command: instead of ending the process in the middle of a block, they set a flag that the
// command reads at its next safe point, so it stops cleanly (a get leaves no temporary file, a
// send removes its part from the unit) and ends with 128 + the signal's number. A second signal
// ends the process at once. The previous handlers come back at the end of the scope.
#include <csignal>
#include <memory>

class ConsoleStopScope;

class StopSignalScope {
public:
    StopSignalScope();
    ~StopSignalScope();
    StopSignalScope(const StopSignalScope&) = delete;
    StopSignalScope& operator=(const StopSignalScope&) = delete;

    // True once a stop signal arrived.
    static bool Requested();
    // The exit code of a command stopped by a signal, as a shell reports it: 130 for SIGINT,
    // 143 for SIGTERM.
    static int ExitCode();

private:
#ifdef _WIN32
    std::unique_ptr<ConsoleStopScope> Console;
#else
    struct sigaction PreviousInt {};
    struct sigaction PreviousTerm {};
#endif
};
