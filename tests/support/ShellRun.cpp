#include "ShellRun.h"

#include <sys/wait.h>

#include <cstdio>

namespace testsupport {

ShellRun RunShell(const std::string& command)
{
    ShellRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, got);
    const int status = pclose(pipe);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace testsupport
