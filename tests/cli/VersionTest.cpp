// tessaly-cli --version: the project's version, with no unit and no simulated card touched.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct VersionRun {
    int Exit = -1;
    std::string Output; // standard output only
};

VersionRun CliStdout(const std::string& arguments)
{
    const std::string command = std::string(TESSALY_CLI) + " " + arguments;
    VersionRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[256];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, got);
    const int status = pclose(pipe);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CliVersion, PrintsProgramAndProjectVersion)
{
    const VersionRun run = CliStdout("--version");
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Output, "tessaly-cli " TESSALY_PROJECT_VERSION "\n");
}

// With --simulate before it, the simulated unit's card is still not created.
TEST(CliVersion, TouchesNoSimulatedCard)
{
    const fs::path card = fs::temp_directory_path() / ("tessaly-cli-version-" + std::to_string(::getpid()));
    fs::remove_all(card);
    const VersionRun run = CliStdout("--simulate=" + card.string() + " --version");
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Output, "tessaly-cli " TESSALY_PROJECT_VERSION "\n");
    EXPECT_FALSE(fs::exists(card));
    fs::remove_all(card);
}

} // namespace
