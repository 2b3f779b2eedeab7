// tessaly-cli --version: the project's version, with no unit and no simulated card touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ShellRun.h"
#include "TempFolder.h"

#ifdef _WIN32
#include "FileVersion.h"
#endif

namespace fs = std::filesystem;

namespace {

// The version tessaly-cli prints: on Windows its version resource's, which carries the build
// number; elsewhere the project's.
std::string ExpectedVersion()
{
#ifdef _WIN32
    if (TESSALY_BUILD_NUMBER != 0)
        return TESSALY_PROJECT_VERSION " (TEST BUILD " + std::to_string(TESSALY_BUILD_NUMBER) + ")";
#endif
    return TESSALY_PROJECT_VERSION;
}

// tessaly-cli with `arguments`; standard output only.
testsupport::ShellRun CliStdout(const std::vector<std::string>& arguments)
{
    return testsupport::RunProgram(TESSALY_CLI, arguments);
}

TEST(CliVersion, PrintsProgramAndProjectVersion)
{
    const testsupport::ShellRun run = CliStdout({"--version"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Output, "tessaly-cli " + ExpectedVersion() + "\n");
}

// With --simulate before it, the simulated unit's card is still not created.
TEST(CliVersion, TouchesNoSimulatedCard)
{
    const testsupport::TempFolder folder;
    const fs::path card = folder.Path() / "card";
    const testsupport::ShellRun run = CliStdout({"--simulate=" + card.string(), "--version"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Output, "tessaly-cli " + ExpectedVersion() + "\n");
    EXPECT_FALSE(fs::exists(card));
}

#ifdef _WIN32
// The executable's version resource is read with the platform's version services; a program
// without one (this test program) has no version text.
TEST(CliVersion, ReadFromTheVersionResource)
{
    EXPECT_EQ(GetFileVersionText(TESSALY_CLI), ExpectedVersion());
    const std::string self = ExecutableFileName();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(fs::exists(self));
    EXPECT_EQ(GetFileVersionText(self), "");
    EXPECT_EQ(GetFileVersionText(self + ".missing"), "");
}
#endif

} // namespace
