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
