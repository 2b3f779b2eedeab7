// tessaly-cli end to end against the simulated unit, driven from outside as a
// script would drive it, faults included (TESSALY_SIM_FAULTS).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PathText.h"
#include "ShellRun.h"
#include "TempFolder.h"

namespace fs = std::filesystem;
using testsupport::ReadText;
using CliRun = testsupport::ShellRun;

namespace {

// tessaly-cli with `arguments` and the `environment` variables; standard error goes with
// standard output.
CliRun Cli(const std::vector<std::string>& arguments, const testsupport::Environment& environment = {})
{
    return testsupport::RunProgram(TESSALY_CLI, arguments, environment, true);
}

testsupport::Environment Faults(const std::string& plan) { return {{"TESSALY_SIM_FAULTS", plan}}; }

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
    const CliRun info = Cli({sim, "info"});
    ASSERT_EQ(info.Exit, 0) << info.Output;
    EXPECT_NE(info.Output.find("Serial Number: "), std::string::npos);
    EXPECT_NE(info.Output.find("Firmware Version: "), std::string::npos);
    const CliRun logs = Cli({sim, "ls", "A:\\Logs"});
    ASSERT_EQ(logs.Exit, 0) << logs.Output;
    EXPECT_NE(logs.Output.find(".displog"), std::string::npos);
    const CliRun maps = Cli({sim, "ls", "A:\\Maps"});
    ASSERT_EQ(maps.Exit, 0) << maps.Output;
    for (const char* seeded : {"Street.qxm", "Track Day.qxm", "Dyno.wzm"})
        EXPECT_NE(maps.Output.find(seeded), std::string::npos) << seeded << "\n" << maps.Output;
}

// A file whose name is outside ASCII but inside the unit's code page goes to the unit and comes
// back under its own name, byte for byte, line ends and NUL bytes included; the simulated card
// keeps it under that name. A name the unit cannot store is refused before anything is sent.
TEST_F(CliAgainstSimulator, NonAsciiNameRoundTrip)
{
    const std::string omega = "\xCE\xA9.qxm"; // Ω.qxm
    std::ofstream(root / PathFromUtf8(omega)) << "map";
    const CliRun refused = Cli({sim, "put", "Maps", Utf8FromPath(root / PathFromUtf8(omega))});
    EXPECT_EQ(refused.Exit, 1);
    EXPECT_NE(refused.Output.find("\"\xCE\xA9\" (U+03A9)"), std::string::npos) << refused.Output;
    EXPECT_FALSE(fs::exists(card / "Maps" / PathFromUtf8(omega)));

    const std::string name = "Stra\xC3\x9F" "e Caf\xC3\xA9.qxm"; // Straße Café.qxm
    std::vector<uint8_t> bytes(3000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    const std::string text = "\r\n\x1A\0\n";
    std::copy(text.begin(), text.end(), bytes.begin());
    const fs::path local = root / PathFromUtf8(name);
    {
        std::ofstream file(local, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const CliRun put = Cli({sim, "put", "Maps", Utf8FromPath(local)});
    ASSERT_EQ(put.Exit, 0) << put.Output;
    EXPECT_EQ(testsupport::ReadBytes(card / "Maps" / PathFromUtf8(name)), bytes);
    const CliRun listed = Cli({sim, "ls", "Maps"});
    EXPECT_NE(listed.Output.find(name), std::string::npos) << listed.Output;
    const fs::path out = root / "out";
    const CliRun got = Cli({sim, "get", "Maps", name, "--to", Utf8FromPath(out)});
    ASSERT_EQ(got.Exit, 0) << got.Output;
    EXPECT_EQ(testsupport::ReadBytes(out / PathFromUtf8(name)), bytes);
}

// A log whose name is outside ASCII converts to the CSV of the same name beside it.
TEST_F(CliAgainstSimulator, NonAsciiLogConverts)
{
    ASSERT_EQ(Cli({sim, "info"}).Exit, 0); // seeds the card
    const std::string stem = "L\xC3\xA4uf \xCE\xA9"; // Läuf Ω
    const fs::path log = root / PathFromUtf8(stem + ".displog");
    fs::copy_file(card / "Logs" / "RUN1.displog", log);
    const CliRun run = Cli({"convert", Utf8FromPath(log)});
    ASSERT_EQ(run.Exit, 0) << run.Output;
    const std::string csv = ReadText(root / PathFromUtf8(stem + ".csv"));
    EXPECT_GT(csv.size(), 100u);
    EXPECT_NE(run.Output.find(stem + ".csv"), std::string::npos) << run.Output;
}

// Without --simulate the commands look on the real bus; a machine without the unit lists none
// and that is no error.
TEST(CliRealBus, DevicesWithoutAUnitListsNone)
{
#ifndef TESSALY_CLI_HAS_HID_HOST
    GTEST_SKIP() << "tessaly-cli is built without a HID host";
#endif
    const CliRun run = Cli({"devices"});
    EXPECT_EQ(run.Exit, 0) << run.Output;
    EXPECT_EQ(run.Output.find("normal"), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("bootloader"), std::string::npos) << run.Output;
}

TEST_F(CliAgainstSimulator, GetPutRemoveRoundTrip)
{
    ASSERT_EQ(Cli({sim, "info"}).Exit, 0); // seeds the card
    const fs::path out = root / "out";
    const CliRun got = Cli({sim, "get", "Logs", "RUN1.displog", "--to", out.string()});
    ASSERT_EQ(got.Exit, 0) << got.Output;
    EXPECT_EQ(ReadText(out / "RUN1.displog"), ReadText(card / "Logs" / "RUN1.displog"));

    std::ofstream(root / "mine.qxm") << "map bytes";
    ASSERT_EQ(Cli({sim, "put", "Maps", (root / "mine.qxm").string()}).Exit, 0);
    EXPECT_EQ(ReadText(card / "Maps" / "mine.qxm"), "map bytes");
    EXPECT_NE(Cli({sim, "ls", "Maps"}).Output.find("mine.qxm"), std::string::npos);
    ASSERT_EQ(Cli({sim, "rm", "Maps", "mine.qxm"}).Exit, 0);
    EXPECT_FALSE(fs::exists(card / "Maps" / "mine.qxm"));
}

// A name that would leave the destination folder is refused; nothing is written.
TEST_F(CliAgainstSimulator, EscapingNamesAreRefused)
{
    for (const char* name : {"../escape", "sub/dir", "C:evil", "CON.txt", "..", "a\\b"}) {
        const CliRun run = Cli({sim, "get", "Logs", name, "--to", (root / "out").string()});
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
    ASSERT_EQ(Cli({sim, "info"}).Exit, 0);
    const fs::path out = root / "out";
    std::ofstream(out / "RUN2.displog") << "the good copy";
    const CliRun run = Cli({sim, "get", "Logs", "RUN2.displog", "--to", out.string()}, Faults("unplug-after=200"));
    EXPECT_EQ(run.Exit, 1) << run.Output;
    EXPECT_NE(run.Output.find("ERR_"), std::string::npos) << run.Output;
    EXPECT_EQ(ReadText(out / "RUN2.displog"), "the good copy");
    // No temporary file is left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

TEST_F(CliAgainstSimulator, FailedStatusIsNamed)
{
    std::ofstream(root / "mine.qxm") << "map bytes";
    const CliRun run = Cli({sim, "put", "Maps", (root / "mine.qxm").string()}, Faults("status=0x4012:0x05"));
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Output.find("refused by the unit with status 0x05"), std::string::npos) << run.Output;
}

// A listing that the unit stops answering, or that an unplug ends, is cut
// short: ls says why and exits non-zero instead of passing for a whole list.
TEST_F(CliAgainstSimulator, ListingCutShortFails)
{
    ASSERT_EQ(Cli({sim, "ls", "Maps"}).Exit, 0);
    for (const char* plan : {"mute-after=3", "unplug-after=4"}) {
        const CliRun run = Cli({sim, "ls", "Maps"}, Faults(plan));
        EXPECT_EQ(run.Exit, 1) << plan;
        EXPECT_NE(run.Output.find("A:\\Maps: the unit stopped answering"), std::string::npos) << run.Output;
    }
}

// A request for the next entry that reaches the unit twice skips an entry, and a lost entry
// reply evens out the count: ls reads the listing twice and exits 0 only when both readings
// hold the same names.
TEST_F(CliAgainstSimulator, ListingThatSkippedAnEntryFails)
{
    const CliRun whole = Cli({sim, "ls", "Maps"});
    ASSERT_EQ(whole.Exit, 0);
    for (const char* plan : {"dup-out=2,drop-in=2", "dup-out=2,drop-in=3", "dup-out=3,drop-in=3"}) {
        const CliRun run = Cli({sim, "ls", "Maps"}, Faults(plan));
        if (run.Exit == 0)
            EXPECT_EQ(run.Output, whole.Output) << plan;
        else
            EXPECT_NE(run.Output.find("A:\\Maps: "), std::string::npos) << run.Output;
    }
}

// A refusal that answered another request (a doubled and a lost report, another program at the
// unit) while the first block of a replacing send was written: the cut file is not left under
// the name.
TEST_F(CliAgainstSimulator, RefusalOfAnotherRequestLeavesNoCutFile)
{
    const fs::path maps = root / "own" / "Maps";
    fs::create_directories(maps);
    fs::create_directories(root / "own" / "Logs");
    fs::create_directories(root / "local");
    const std::pair<fs::path, size_t> files[] = {{maps / "Track Day.qxm", 3000}, {maps / "Street.qxm", 6000},
                                                 {maps / PathFromUtf8("Dynø.wzm"), 1500},  {maps / "Big.qxm", 204800},
                                                 {root / "local" / PathFromUtf8("Café Map.qxm"), 2600},
                                                 {root / "local" / "Street.qxm", 5000}};
    for (const auto& [path, size] : files)
        std::ofstream(path, std::ios::binary) << std::string(size, static_cast<char>(size % 251));
    const std::string own = "--simulate=" + (root / "own").string();
    const CliRun run = Cli({own, "put", "A:\\Maps", Utf8FromPath(root / "local" / PathFromUtf8("Café Map.qxm")),
                            (root / "local" / "Street.qxm").string()},
                           Faults("dup-out=114,drop-out=131,intrude=61:0x4012"));
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Output.find("Street.qxm: refused by the unit"), std::string::npos) << run.Output;
    EXPECT_FALSE(fs::exists(maps / "Street.qxm")) << run.Output;
}

// An empty local file is not sent: the unit's file of that name stays.
TEST_F(CliAgainstSimulator, EmptyFileIsNotSent)
{
    std::ofstream(root / "mine.qxm") << "map bytes";
    ASSERT_EQ(Cli({sim, "put", "Maps", (root / "mine.qxm").string()}).Exit, 0);
    const fs::path empty = root / "empty" / "mine.qxm";
    fs::create_directories(empty.parent_path());
    std::ofstream{empty};
    const CliRun run = Cli({sim, "put", "Maps", empty.string()});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Output.find("empty file"), std::string::npos) << run.Output;
    EXPECT_NE(Cli({sim, "ls", "Maps"}).Output.find("mine.qxm"), std::string::npos);
}

TEST_F(CliAgainstSimulator, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(Cli({}).Exit, 2);
    EXPECT_EQ(Cli({"frobnicate"}).Exit, 2);
    EXPECT_EQ(Cli({sim, "ls"}).Exit, 2);
    EXPECT_EQ(Cli({sim, "get", "Logs"}).Exit, 2);
}

#ifndef _WIN32
// Ctrl+C and SIGTERM during a put or a get stop it between two blocks: the put removes its part
// from the card (no cut file under the real name), the get leaves no temporary file, and the
// exit code is the shell's for the signal.
TEST_F(CliAgainstSimulator, SignalsStopTransfersCleanly)
{
    ASSERT_EQ(Cli({sim, "info"}).Exit, 0); // seeds the card
    std::vector<uint8_t> bytes(300000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 1000);
    {
        std::ofstream file(root / "big.qxm", std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // The program started in the background on the full-speed link, the signal sent a moment later.
    const auto interrupted = [&](const std::string& signal, const std::string& arguments) {
        return testsupport::RunShell("TESSALY_SIM_FAULTS= TESSALY_SIM_LINK=full-speed '" + std::string(TESSALY_CLI) +
                                     "' '" + sim + "' " + arguments + " 2>/dev/null & pid=$!; sleep 1; kill -" +
                                     signal + " $pid; wait $pid; echo \"exit $?\"");
    };
    for (const auto& [signal, code] : {std::pair<std::string, std::string>{"INT", "exit 130"}, {"TERM", "exit 143"}}) {
        const CliRun put = interrupted(signal, "put 'A:\\Maps' '" + (root / "big.qxm").string() + "'");
        EXPECT_NE(put.Output.find(code), std::string::npos) << signal << ": " << put.Output;
        EXPECT_FALSE(fs::exists(card / "Maps" / "big.qxm")) << signal;

        const CliRun get = interrupted(signal, "get 'A:\\Logs' RUN1.displog --to '" + (root / "out").string() + "'");
        EXPECT_NE(get.Output.find(code), std::string::npos) << signal << ": " << get.Output;
        EXPECT_TRUE(fs::is_empty(root / "out")) << signal;
    }
}
#endif

// A sync gets what the PC folder lacks, byte for byte; a second one gets nothing; a file that
// changed size on the card is got again and the older copy kept as NAME.1.
TEST_F(CliAgainstSimulator, SyncGetsOnlyWhatIsNew)
{
    const std::string dir = Utf8FromPath(root / "synced");
    const CliRun first = Cli({sim, "sync", "A:\\Logs", dir});
    ASSERT_EQ(first.Exit, 0) << first.Output;
    for (const char* log : {"RUN1.displog", "RUN2.displog", "Old.displog"})
        EXPECT_EQ(testsupport::ReadBytes(root / "synced" / log), testsupport::ReadBytes(card / "Logs" / log)) << log;
    EXPECT_NE(first.Output.find("3 new, 0 already there, 0 failed"), std::string::npos) << first.Output;
    const CliRun second = Cli({sim, "sync", "A:\\Logs", dir});
    EXPECT_EQ(second.Exit, 0);
    EXPECT_NE(second.Output.find("0 new, 3 already there, 0 failed"), std::string::npos) << second.Output;

    const std::vector<uint8_t> older = testsupport::ReadBytes(card / "Logs" / "Old.displog");
    {
        std::ofstream grown(card / "Logs" / "Old.displog", std::ios::binary | std::ios::app);
        grown << "more";
    }
    const CliRun third = Cli({sim, "--json", "sync", "A:\\Logs", dir});
    EXPECT_EQ(third.Exit, 0);
    EXPECT_NE(third.Output.find("\"note\": \"older copy kept as Old.displog.1\""), std::string::npos) << third.Output;
    EXPECT_EQ(testsupport::ReadBytes(root / "synced" / "Old.displog.1"), older);
    EXPECT_EQ(testsupport::ReadBytes(root / "synced" / "Old.displog"), testsupport::ReadBytes(card / "Logs" / "Old.displog"));
}

#ifndef _WIN32 // the settings file; Windows keeps the settings in the registry
// sync --convert writes the CSV of each new log at the window's export interval, as convert
// does at that interval; logs already there are not converted again. A stored interval of the
// wrong type ends the command before anything is got.
TEST_F(CliAgainstSimulator, SyncConvertsNewLogsWithTheWindowsInterval)
{
    const fs::path settings = root / "config" / "tessaly" / "settings.json";
    fs::create_directories(settings.parent_path());
    std::ofstream(settings) << R"({"keys": {"\\Software\\Korvane Research Inc.\\tessaly": {
        "Export Interval": {"type": "REG_BINARY", "data": "000000000000e03f"}}}})"; // 0.5 s
    const testsupport::Environment config = {{"XDG_CONFIG_HOME", (root / "config").string()}};
    const std::string dir = Utf8FromPath(root / "synced");
    const CliRun first = Cli({sim, "sync", "A:\\Logs", dir, "--convert"}, config);
    ASSERT_EQ(first.Exit, 0) << first.Output;
    EXPECT_NE(first.Output.find("RUN1.displog: CSV written"), std::string::npos) << first.Output;
    fs::create_directories(root / "alone");
    fs::copy_file(root / "synced" / "RUN1.displog", root / "alone" / "RUN1.displog");
    ASSERT_EQ(Cli({"convert", (root / "alone" / "RUN1.displog").string(), "--interval", "0.5"}).Exit, 0);
    EXPECT_EQ(testsupport::ReadBytes(root / "synced" / "RUN1.csv"), testsupport::ReadBytes(root / "alone" / "RUN1.csv"));

    const CliRun second = Cli({sim, "sync", "A:\\Logs", dir, "--convert"}, config);
    EXPECT_EQ(second.Exit, 0);
    EXPECT_EQ(second.Output.find("CSV written"), std::string::npos) << second.Output;

    std::ofstream(settings) << R"({"keys": {"\\Software\\Korvane Research Inc.\\tessaly": {
        "Export Interval": {"type": "REG_SZ", "data": "0.5"}}}})";
    const CliRun wrong = Cli({sim, "sync", "A:\\Logs", Utf8FromPath(root / "other"), "--convert"}, config);
    EXPECT_EQ(wrong.Exit, 1);
    EXPECT_NE(wrong.Output.find("the export options cannot be read"), std::string::npos) << wrong.Output;
    EXPECT_TRUE(!fs::exists(root / "other") || testsupport::FolderEntries(root / "other").empty());
}
#endif

// --json gives one document on standard output with the facts of the text output.
TEST_F(CliAgainstSimulator, JsonListing)
{
    ASSERT_EQ(Cli({sim, "info"}).Exit, 0);
    const CliRun text = testsupport::RunProgram(TESSALY_CLI, {sim, "ls", "A:\\Maps"});
    const CliRun json = testsupport::RunProgram(TESSALY_CLI, {sim, "--json", "ls", "A:\\Maps"});
    ASSERT_EQ(json.Exit, 0);
    EXPECT_EQ(json.Output.rfind("{\n  \"folder\": \"A:\\\\Maps\",\n  \"entries\": [", 0), 0u) << json.Output;
    for (const char* name : {"Dyno.wzm", "Street.qxm", "Track Day.qxm"}) {
        EXPECT_NE(text.Output.find(name), std::string::npos);
        EXPECT_NE(json.Output.find(std::string("\"name\": \"") + name + "\""), std::string::npos) << json.Output;
    }
    EXPECT_NE(json.Output.find("\"complete\": true"), std::string::npos);
}
