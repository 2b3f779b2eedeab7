// tessaly-cli --version: the project's version, with no unit and no simulated card touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ShellRun.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {

// tessaly-cli with `arguments`; standard output only.
testsupport::ShellRun CliStdout(const std::string& arguments)
{
    return testsupport::RunShell(std::string(TESSALY_CLI) + " " + arguments);
}

TEST(CliVersion, PrintsProgramAndProjectVersion)
{
    const testsupport::ShellRun run = CliStdout("--version");
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Output, "tessaly-cli " TESSALY_PROJECT_VERSION "\n");
}

// With --simulate before it, the simulated unit's card is still not created.
TEST(CliVersion, TouchesNoSimulatedCard)
{
    const testsupport::TempFolder folder;
    const fs::path card = folder.Path() / "card";
    const testsupport::ShellRun run = CliStdout("--simulate=" + card.string() + " --version");
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Output, "tessaly-cli " TESSALY_PROJECT_VERSION "\n");
    EXPECT_FALSE(fs::exists(card));
}

} // namespace
