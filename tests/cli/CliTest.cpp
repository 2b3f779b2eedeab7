// tessaly-cli end to end against the simulated unit, driven from outside as a
// script would drive it, faults included (TESSALY_SIM_FAULTS).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ShellRun.h"
#include "TempFolder.h"

namespace fs = std::filesystem;
using testsupport::ReadText;
using CliRun = testsupport::ShellRun;

namespace {

// tessaly-cli with `arguments`, after the `environment` assignments; standard error goes with
// standard output.
CliRun Cli(const std::string& arguments, const std::string& environment = "")
{
    return testsupport::RunShell(environment + " " + TESSALY_CLI + " " + arguments + " 2>&1");
}

class CliAgainstSimulator : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root / "out"); }

    testsupport::TempFolder folder;
    const fs::path root = folder.Path();
    const fs::path card = root / "card";
    const std::string sim = "--simulate=" + card.string();
};

} // namespace

TEST_F(CliAgainstSimulator, InfoAndListingOfASeededCard)
{
    const CliRun info = Cli(sim + " info");
    ASSERT_EQ(info.Exit, 0) << info.Output;
    EXPECT_NE(info.Output.find("Serial Number: "), std::string::npos);
    EXPECT_NE(info.Output.find("Firmware Version: "), std::string::npos);
    const CliRun logs = Cli(sim + " ls 'A:\\Logs'");
    ASSERT_EQ(logs.Exit, 0) << logs.Output;
    EXPECT_NE(logs.Output.find(".displog"), std::string::npos);
}

TEST_F(CliAgainstSimulator, GetPutRemoveRoundTrip)
{
    ASSERT_EQ(Cli(sim + " info").Exit, 0); // seeds the card
    const fs::path out = root / "out";
    const CliRun got = Cli(sim + " get Logs RUN1.displog --to " + out.string());
    ASSERT_EQ(got.Exit, 0) << got.Output;
    EXPECT_EQ(ReadText(out / "RUN1.displog"), ReadText(card / "Logs" / "RUN1.displog"));

    std::ofstream(root / "mine.qxm") << "map bytes";
    ASSERT_EQ(Cli(sim + " put Maps " + (root / "mine.qxm").string()).Exit, 0);
    EXPECT_EQ(ReadText(card / "Maps" / "mine.qxm"), "map bytes");
    EXPECT_NE(Cli(sim + " ls Maps").Output.find("mine.qxm"), std::string::npos);
    ASSERT_EQ(Cli(sim + " rm Maps mine.qxm").Exit, 0);
    EXPECT_FALSE(fs::exists(card / "Maps" / "mine.qxm"));
}

// A name that would leave the destination folder is refused; nothing is written.
TEST_F(CliAgainstSimulator, EscapingNamesAreRefused)
{
    for (const char* name : {"../escape", "sub/dir", "C:evil", "CON.txt", "..", "a\\b"}) {
        const CliRun run = Cli(sim + " get Logs '" + std::string(name) + "' --to " + (root / "out").string());
        EXPECT_EQ(run.Exit, 1) << name;
        EXPECT_NE(run.Output.find("refused"), std::string::npos) << run.Output;
    }
    EXPECT_TRUE(fs::is_empty(root / "out"));
    EXPECT_FALSE(fs::exists(root / "escape"));
}

// The unit unplugged in the middle of a get: the command fails with a result
// code, and the file that was there before is left as it was.
TEST_F(CliAgainstSimulator, UnplugDuringGetKeepsTheOldFile)
{
    ASSERT_EQ(Cli(sim + " info").Exit, 0);
    const fs::path out = root / "out";
    std::ofstream(out / "RUN2.displog") << "the good copy";
    const CliRun run = Cli(sim + " get Logs RUN2.displog --to " + out.string(), "TESSALY_SIM_FAULTS=unplug-after=200");
    EXPECT_EQ(run.Exit, 1) << run.Output;
    EXPECT_NE(run.Output.find("ERR_"), std::string::npos) << run.Output;
    EXPECT_EQ(ReadText(out / "RUN2.displog"), "the good copy");
    // No temporary file is left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

TEST_F(CliAgainstSimulator, FailedStatusIsNamed)
{
    std::ofstream(root / "mine.qxm") << "map bytes";
    const CliRun run = Cli(sim + " put Maps " + (root / "mine.qxm").string(), "TESSALY_SIM_FAULTS=status=0x4012:0x05");
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Output.find("Error 0x10000005"), std::string::npos) << run.Output;
}

// A listing that the unit stops answering, or that an unplug ends, is cut
// short: ls says why and exits non-zero instead of passing for a whole list.
TEST_F(CliAgainstSimulator, ListingCutShortFails)
{
    ASSERT_EQ(Cli(sim + " ls Maps").Exit, 0);
    for (const char* plan : {"TESSALY_SIM_FAULTS=mute-after=3", "TESSALY_SIM_FAULTS=unplug-after=4"}) {
        const CliRun run = Cli(sim + " ls Maps", plan);
        EXPECT_EQ(run.Exit, 1) << plan;
        EXPECT_NE(run.Output.find("the listing was cut short"), std::string::npos) << run.Output;
    }
}

// An empty local file is not sent: the unit's file of that name stays.
TEST_F(CliAgainstSimulator, EmptyFileIsNotSent)
{
    std::ofstream(root / "mine.qxm") << "map bytes";
    ASSERT_EQ(Cli(sim + " put Maps " + (root / "mine.qxm").string()).Exit, 0);
    const fs::path empty = root / "empty" / "mine.qxm";
    fs::create_directories(empty.parent_path());
    std::ofstream{empty};
    const CliRun run = Cli(sim + " put Maps " + empty.string());
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Output.find("empty file"), std::string::npos) << run.Output;
    EXPECT_NE(Cli(sim + " ls Maps").Output.find("mine.qxm"), std::string::npos);
}

TEST_F(CliAgainstSimulator, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(Cli("").Exit, 2);
    EXPECT_EQ(Cli("frobnicate").Exit, 2);
    EXPECT_EQ(Cli(sim + " ls").Exit, 2);
    EXPECT_EQ(Cli(sim + " get Logs").Exit, 2);
}
