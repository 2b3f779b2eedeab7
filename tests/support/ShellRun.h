#pragma once
// Runs a program as a script would: through the shell, its standard output collected.
#include <string>

namespace testsupport {

struct ShellRun {
    int Exit = -1; // -1 when the shell could not be started or did not end normally
    std::string Output;
};

// Runs `command` with /bin/sh; add "2>&1" to collect standard error as well.
ShellRun RunShell(const std::string& command);

} // namespace testsupport
