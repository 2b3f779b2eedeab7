#pragma once
// Runs a program as a script would, its standard output collected.
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ShellRun {
    int Exit = -1; // -1 when the program could not be started or did not end normally
    std::string Output;
};

// Variables set for one run, on top of this process's environment; an empty value is set empty.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs `program` with `arguments` (UTF-8, passed as they are, no shell in between) and
// `environment`; with `withErrors` standard error is collected into Output with standard output.
// On Windows it is started with CreateProcess, elsewhere through /bin/sh with every word quoted.
ShellRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const Environment& environment = {}, bool withErrors = false);

#ifndef _WIN32
// Runs `command` with /bin/sh; add "2>&1" to collect standard error as well.
ShellRun RunShell(const std::string& command);
#endif

} // namespace testsupport
