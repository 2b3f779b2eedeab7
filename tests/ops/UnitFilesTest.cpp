// The operations both front ends share, against the simulated unit.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "LogConversion.h"
#include "LogGenerator.h"
#include "SimHost.h"
#include "TempFolder.h"
#include "UnitFiles.h"
#include "UnitFixture.h"

namespace {

constexpr const char* Maps = "A:\\Maps";

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) { return testsupport::PatternBytes(size, seed); }

using UnitFiles = testsupport::UnitFixture;

} // namespace

// A get streams into a temporary file and puts it in place only when whole;
// a failed one leaves the older file of that name as it was and nothing else.
TEST_F(UnitFiles, GetIsWholeOrNothing)
{
    const auto target = Local.Path() / "Street.qxm";
    ASSERT_TRUE(GetUnitFile(*Display, Maps, "Street.qxm", 3000, target, nullptr).Done());
    EXPECT_EQ(testsupport::ReadBytes(target), Street);

    Local.Write("Street.qxm", {'o', 'l', 'd'});
    SetFaults("unplug-after=6");
    const FileOutcome failed = GetUnitFile(*Display, Maps, "Street.qxm", 3000, target, nullptr);
    EXPECT_FALSE(failed.Done());
    EXPECT_FALSE(failed.Reason.empty());
    EXPECT_EQ(testsupport::ReadBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(testsupport::FolderEntries(Local.Path()), std::vector<std::string>{"Street.qxm"});
}

// A listing that claims far more than the file holds (a corrupted size) is
// not trusted with memory: the get fails at the file's end and writes nothing.
TEST_F(UnitFiles, OversizedListingFailsWithoutAFile)
{
    const FileOutcome outcome = GetUnitFile(*Display, Maps, "Street.qxm", 0xFFFFFFF0u, Local.Path() / "Street.qxm", nullptr);
    EXPECT_FALSE(outcome.Done());
    EXPECT_TRUE(testsupport::FolderEntries(Local.Path()).empty());
}

// A name that would leave the destination folder is refused before anything
// is asked; a folder that cannot be written is the PC's failure, not the unit's.
TEST_F(UnitFiles, GetRefusesBadNamesAndSaysWhenThePcFails)
{
    Host->ResetCounts();
    EXPECT_EQ(GetUnitFile(*Display, Maps, "../Street.qxm", 3000, Local.Path() / "x", nullptr).Code, ERR_WRONG_PACKET);
    EXPECT_EQ(Host->Counts().Out, 0u);
    const FileOutcome noFolder =
        GetUnitFile(*Display, Maps, "Street.qxm", 3000, Local.Path() / "missing" / "Street.qxm", nullptr);
    EXPECT_EQ(noFolder.Code, ERR_FILE_WRITE);
    EXPECT_EQ(Host->Counts().Out, 0u);
}

// A sent file lands whole; a removal of a file that is not there is not reported done.
TEST_F(UnitFiles, SendAndRemove)
{
    ASSERT_TRUE(SendUnitFile(*Display, Maps, "New.qxm", Bytes(1500, 2), nullptr).Done());
    EXPECT_EQ(Card.Read("Maps/New.qxm"), Bytes(1500, 2));
    ASSERT_TRUE(RemoveUnitFile(*Display, Maps, "New.qxm").Done());
    EXPECT_FALSE(std::filesystem::exists(Card.Path() / "Maps" / "New.qxm"));
    const FileOutcome missing = RemoveUnitFile(*Display, Maps, "New.qxm");
    EXPECT_EQ(missing.Code, StatusOffset + 0x05);
    EXPECT_EQ(missing.Reason, "no such file on the unit");
}

// A listing ends normally on the unit's end-of-listing reply; one the unit
// stops answering is cut short, and the entries that arrived are kept.
TEST_F(UnitFiles, ListingSaysWhetherItWasCutShort)
{
    Card.Write("Maps/Dyno.wzm", {1});
    std::vector<std::string> names;
    const auto collect = [&](const FILE_ENTRY& entry) { names.push_back(entry.Name()); };
    EXPECT_EQ(ListUnitFolder(*Display, Maps, collect), 0u);
    EXPECT_EQ(names.size(), 2u);
    names.clear();
    SetFaults("mute-after=3");
    EXPECT_EQ(ListUnitFolder(*Display, Maps, collect), ERR_TIMEOUT);
    EXPECT_EQ(names.size(), 1u);
}

// A conversion's failures come back as outcomes: a log named .csv is never
// replaced by its own conversion, and a CSV that cannot be written names it.
TEST(LogConversion, FailuresAreOutcomes)
{
    testsupport::TempFolder folder;
    const std::vector<uint8_t> log = GenerateDispLog(LogSpec{});
    const std::string named = folder.Write("run.csv", log);
    EXPECT_EQ(ConvertLog(named, 1.0f, {}).End, ConversionEnd::SameFile);
    EXPECT_EQ(folder.Read("run.csv"), log);

    const std::string good = folder.Write("run.displog", log);
    const ConversionOutcome converted = ConvertLog(good, 1.0f, {});
    ASSERT_EQ(converted.End, ConversionEnd::Converted);
    EXPECT_TRUE(std::filesystem::exists(converted.CsvPath));
    EXPECT_EQ(ConvertLog(folder.Write("bad.displog", {1, 2, 3}), 1.0f, {}).End, ConversionEnd::Unreadable);
#ifdef _WIN32
    // A folder in the CSV's place: it cannot be replaced by a file.
    std::filesystem::remove(converted.CsvPath);
    std::filesystem::create_directory(converted.CsvPath);
    const ConversionOutcome denied = ConvertLog(good, 1.0f, {});
    EXPECT_EQ(denied.End, ConversionEnd::WriteFailed);
    EXPECT_NE(denied.Text.find("run.csv"), std::string::npos) << denied.Text;
#else
    if (geteuid() != 0) {
        chmod(folder.Path().c_str(), 0500);
        const ConversionOutcome denied = ConvertLog(good, 1.0f, {});
        chmod(folder.Path().c_str(), 0700);
        EXPECT_EQ(denied.End, ConversionEnd::WriteFailed);
        EXPECT_NE(denied.Text.find("run.csv"), std::string::npos) << denied.Text;
    }
#endif
}

// Cancel between blocks: a get leaves no file and the older one as it was; a send stopped
// midway removes the part it wrote; a listing stops with ERR_CANCELLED as its end.
TEST_F(UnitFiles, CancelStopsBetweenBlocks)
{
    const auto target = Local.Path() / "Street.qxm";
    Local.Write("Street.qxm", {'o', 'l', 'd'});
    int blocks = 0;
    Display->SetCancelCheck([&] { return ++blocks > 2; });
    const FileOutcome got = GetUnitFile(*Display, Maps, "Street.qxm", 3000, target, nullptr);
    EXPECT_EQ(got.Code, ERR_CANCELLED);
    EXPECT_EQ(got.Reason, "cancelled");
    EXPECT_EQ(Local.Read("Street.qxm"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Local.Path()), {}), 1);

    blocks = 0;
    const FileOutcome sent = SendUnitFile(*Display, Maps, "big.qxm", Bytes(5000, 2), nullptr);
    EXPECT_EQ(sent.Code, ERR_CANCELLED);
    EXPECT_EQ(sent.Reason, "cancelled; the part sent was removed from the unit");
    EXPECT_FALSE(std::filesystem::exists(Card.Path() / "Maps" / "big.qxm"));

    // Asked before the first block: the unit's file of that name stays.
    Display->SetCancelCheck([] { return true; });
    EXPECT_EQ(SendUnitFile(*Display, Maps, "Street.qxm", Bytes(10, 3), nullptr).Code, ERR_CANCELLED);
    EXPECT_EQ(Card.Read("Maps/Street.qxm"), Street);

    Card.Write("Maps/Other.qxm", Bytes(10, 4));
    std::vector<std::string> names;
    EXPECT_EQ(ListUnitFolder(*Display, Maps, [&](const FILE_ENTRY& entry) { names.push_back(entry.Name()); }),
              ERR_CANCELLED);
    EXPECT_EQ(names.size(), 1u);

    // Without the check everything runs again, on the same link.
    Display->SetCancelCheck({});
    EXPECT_TRUE(GetUnitFile(*Display, Maps, "Street.qxm", 3000, target, nullptr).Done());
    EXPECT_EQ(Local.Read("Street.qxm"), Street);
}

// Failure lists name the cause in a few words, with the code for the curious.
TEST(UnitFailureReason, NamesTheCause)
{
    EXPECT_EQ(UnitFailureReason(ERR_TIMEOUT), "time-out: the unit did not answer (ERR_TIMEOUT)");
    EXPECT_EQ(UnitFailureReason(StatusOffset + 0x04), "card locked: the unit refused with status 0x04");
    EXPECT_EQ(UnitFailureReason(StatusOffset + 0x05), "refused by the unit with status 0x05");
    EXPECT_EQ(UnitFailureReason(ERR_CANCELLED), "cancelled");
    EXPECT_EQ(UnitFailureReason(ERR_DEVICE_CLOSED), "the unit went away (ERR_DEVICE_CLOSED)");
    EXPECT_EQ(UnitFailureReason(ERR_FILE_SIG), "failed (ERR_FILE_SIG)");
    // Never a bare code name: words first, the name in parentheses.
    for (uint32_t code = ERR_NO_PATH; code <= ERR_UNIT_LOCK; ++code) {
        if (code == ERR_CANCELLED)
            continue;
        const std::string reason = UnitFailureReason(code);
        std::string named = "(";
        named.append(ResultCodeName(code)).append(")");
        EXPECT_NE(reason.rfind(named), std::string::npos) << reason;
        EXPECT_NE(reason.front(), '(') << reason;
    }
    EXPECT_EQ(ListingFailureReason(StatusOffset + 0x08), "the unit refused the listing with status 0x08");
    EXPECT_EQ(ListingFailureReason(ERR_TIMEOUT), "the unit stopped answering (ERR_TIMEOUT)");
}
