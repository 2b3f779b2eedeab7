#pragma once
// Windows has no SIGINT or SIGTERM sent from outside: Ctrl+C, Ctrl+Break and the closing of the
// console window arrive as console control events, each on a thread of its own. While a
// ConsoleStopScope exists, an event calls `onStop` with the signal number a POSIX system would
// have sent (SIGINT for Ctrl+C; SIGTERM for Ctrl+Break, closing the console, logoff and shutdown)
// instead of ending the process, so a long command stops at its next safe point as it does on
// SIGINT and SIGTERM elsewhere. With `secondEndsProcess` a second event ends the process at once.
// On other systems the class does nothing; the commands use signal handlers there.
class ConsoleStopScope {
public:
    ConsoleStopScope(void (*onStop)(int signal), bool secondEndsProcess);
    ~ConsoleStopScope();
    ConsoleStopScope(const ConsoleStopScope&) = delete;
    ConsoleStopScope& operator=(const ConsoleStopScope&) = delete;

    // The signal number that console control event `event` stands for (CTRL_C_EVENT: SIGINT,
    // the others SIGTERM); used by the handler, open for tests.
    static int SignalForEvent(unsigned long event);
    // Handles one console control event as the system's call would; true when it was taken
    // (the process goes on), false when the default handling (ending the process) is left to run.
    static bool HandleEvent(unsigned long event);
};

#include <atomic>

// SIGINT and SIGTERM (on Windows the console's control events above) ask a long command to stop
// at its next safe point, between two blocks, instead of ending the process in the middle of
// one. While a CommandStopScope exists the first of them sets Requested(); with
// `secondEndsProcess` a second one ends the process at once (its default handling). The
// previous handlers come back at the end. One scope at a time.
class CommandStopScope {
public:
    explicit CommandStopScope(bool secondEndsProcess);
    ~CommandStopScope();
    CommandStopScope(const CommandStopScope&) = delete;
    CommandStopScope& operator=(const CommandStopScope&) = delete;

    // True once a stop was asked for in the current (or last) scope.
    static bool Requested();
    // The flag itself, for operations that poll an atomic between blocks.
    static const std::atomic<bool>* Flag();
    // The signal that asked (SIGINT or SIGTERM), 0 when none did.
    static int Signal();
    // The exit code of a command stopped by a signal, as a shell reports it: 130 after SIGINT,
    // 143 after SIGTERM (and 130 when no signal was seen).
    static int ExitCode();
};
