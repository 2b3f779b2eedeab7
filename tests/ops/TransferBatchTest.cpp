// The batches both front ends run, against the simulated unit: local refusals first, the unit's
// failures stop a send or a delete, an interrupted send leaves no cut file under its real name,
// a get is whole only when the unit has nothing past the listed size, a late removal is settled.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "PathText.h"
#include "SimHost.h"
#include "TempFolder.h"
#include "TransferBatch.h"
#include "UnitFiles.h"
#include "UnitFixture.h"

namespace {

constexpr const char* Maps = "A:\\Maps";
constexpr const char* Logs = "A:\\Logs";

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) { return testsupport::PatternBytes(size, seed, 7); }

// Stops when asked to after a number of progress reports.
class CountingObserver : public BatchObserver {
public:
    void Progress(const TransferMeter&) override { ++Reports; }
    bool StopRequested() override { return StopAfter >= 0 && Reports >= StopAfter; }
    void FileEnded(const BatchFileOutcome& outcome) override { Ended.push_back(outcome.Name); }

    int Reports = 0;
    int StopAfter = -1;
    std::vector<std::string> Ended;
};

class TransferBatch : public testsupport::UnitFixture {
protected:
    bool OnCard(const std::string& path) { return std::filesystem::exists(Card.Path() / path); }

    CountingObserver Observer;
};

const BatchFileOutcome& Outcome(const BatchReport& report, const std::string& name)
{
    for (const BatchFileOutcome& file : report.Files)
        if (file.Name == name)
            return file;
    static const BatchFileOutcome none{"(none)", FileResult::Failed, 0, "not in the report", {}};
    return none;
}

} // namespace

// Every local refusal is decided before the unit is asked for anything, listed with its reason
// and skipped; it does not stop the files after it.
TEST_F(TransferBatch, LocalRefusalsComeFirstAndDoNotStopTheSend)
{
    const auto empty = Local.Path() / "empty.qxm";
    Local.Write("empty.qxm", {});
    Local.Write("Straße Ω.qxm", Bytes(10, 1));
    Local.Write("Good.qxm", Bytes(2500, 2));
    const BatchReport report = SendLocalFiles(*Display, Maps,
                                              {empty, Local.Path() / PathFromUtf8("Straße Ω.qxm"), Local.Path() / "missing.qxm",
                                               Local.Path() / "Good.qxm"},
                                              SendKind::Chosen, Observer);
    ASSERT_EQ(report.Files.size(), 4u);
    EXPECT_EQ(Outcome(report, "empty.qxm").Reason, "empty file");
    EXPECT_EQ(Outcome(report, "Straße Ω.qxm").Result, FileResult::Refused);
    EXPECT_NE(Outcome(report, "Straße Ω.qxm").Reason.find("Ω"), std::string::npos);
    EXPECT_EQ(Outcome(report, "missing.qxm").Result, FileResult::Refused);
    EXPECT_EQ(Outcome(report, "Good.qxm").Result, FileResult::Done);
    // The refusals were told before the one file that was sent.
    EXPECT_EQ(Observer.Ended.back(), "Good.qxm");
    EXPECT_EQ(Card.Read("Maps/Good.qxm"), Bytes(2500, 2));
}

// A drop takes only the folder's kind of file and tries every file; chosen files stop at the
// unit's first failure, and the rest are listed as not tried.
TEST_F(TransferBatch, ChosenFilesStopAtTheUnitsFailureDropsTryEach)
{
    Local.Write("A.qxm", Bytes(100, 1));
    Local.Write("B.qxm", Bytes(100, 2));
    Local.Write("run.displog", Bytes(100, 3));
    const std::vector<std::filesystem::path> files{Local.Path() / "A.qxm", Local.Path() / "run.displog",
                                                   Local.Path() / "B.qxm"};
    SetFaults("status=0x4012:0x04@1");
    const BatchReport chosen = SendLocalFiles(*Display, Maps, files, SendKind::Chosen, Observer);
    EXPECT_EQ(Outcome(chosen, "A.qxm").Reason, "card locked: the unit refused with status 0x04");
    EXPECT_EQ(Outcome(chosen, "run.displog").Reason, NotTriedReason);
    EXPECT_EQ(Outcome(chosen, "B.qxm").Result, FileResult::NotTried);

    SetFaults("status=0x4012:0x04@1");
    const BatchReport dropped = SendLocalFiles(*Display, Maps, files, SendKind::Dropped, Observer);
    EXPECT_EQ(Outcome(dropped, "run.displog").Reason, "not a map file (.qxm or .wzm)");
    EXPECT_EQ(Outcome(dropped, "A.qxm").Result, FileResult::Failed);
    EXPECT_EQ(Outcome(dropped, "B.qxm").Result, FileResult::Done);
    EXPECT_EQ(DroppedFileRefusal(Logs, "x.QXM"), "not a log file (.displog)");
    EXPECT_EQ(DroppedFileRefusal(Logs, "RUN.DISPLOG"), "");
}

// A send that fails after its first block removes its part once the link is back in step, and
// says that the unit's older copy was deleted first; where the unit went away the file is named
// as left incomplete, with the bytes that reached it.
TEST_F(TransferBatch, InterruptedSendLeavesNoCutFileUnderItsName)
{
    Local.Write("Street.qxm", Bytes(5000, 9));
    SetFaults("status=0x4012:0x05@3");
    const BatchReport refused =
        SendLocalFiles(*Display, Maps, {Local.Path() / "Street.qxm"}, SendKind::Chosen, Observer);
    EXPECT_EQ(Outcome(refused, "Street.qxm").Reason,
              "refused by the unit with status 0x05; the part sent was removed from the unit; the unit's older copy "
              "was deleted first");
    EXPECT_FALSE(OnCard("Maps/Street.qxm"));

    // A report of a block request reaches the unit twice: the unit refuses that block and takes
    // the rest of it for the start of another request, which swallows the removal sent next.
    // The removal is asked again once the link is back in step.
    Local.Write("Dup.qxm", Bytes(20000, 6));
    SetFaults("dup-out=40");
    const BatchReport doubled = SendLocalFiles(*Display, Maps, {Local.Path() / "Dup.qxm"}, SendKind::Chosen, Observer);
    EXPECT_EQ(Outcome(doubled, "Dup.qxm").Reason,
              "refused by the unit with status 0x02; the part sent was removed from the unit");
    EXPECT_FALSE(OnCard("Maps/Dup.qxm"));

    // The unit leaves the bus after two blocks went through.
    Local.Write("Big.qxm", Bytes(20000, 4));
    SetFaults("unplug-after=70");
    const BatchReport gone = SendLocalFiles(*Display, Maps, {Local.Path() / "Big.qxm"}, SendKind::Chosen, Observer);
    const BatchFileOutcome& big = Outcome(gone, "Big.qxm");
    EXPECT_EQ(big.Result, FileResult::Failed);
    EXPECT_EQ(big.Reason.rfind("left incomplete on the unit (", 0), 0u) << big.Reason;
    EXPECT_NE(big.Reason.find(" of 20,000 bytes): send it again or delete it"), std::string::npos) << big.Reason;
}

// A file larger than its listing (a log still being written) is not got short.
TEST_F(TransferBatch, GetRefusesAFileLargerThanItsListing)
{
    const BatchReport report = GetUnitFiles(*Display, Maps, {{"Street.qxm", 256}}, Local.Path(), Observer);
    EXPECT_EQ(Outcome(report, "Street.qxm").Reason,
              "the unit's file is larger than its listing (256 bytes listed): list it again");
    EXPECT_TRUE(testsupport::FolderEntries(Local.Path()).empty());

    const BatchReport whole = GetUnitFiles(*Display, Maps, {{"Street.qxm", 3000}}, Local.Path(), Observer);
    EXPECT_TRUE(whole.AllDone());
    EXPECT_EQ(Local.Read("Street.qxm"), Street);
}

// Names given by the user are looked up in the listing; a refused listing is named as the reason.
TEST_F(TransferBatch, NamedGetUsesTheListing)
{
    const BatchReport report = GetNamedUnitFiles(*Display, Maps, {"nosuch.qxm", "Street.qxm"}, Local.Path(), Observer);
    EXPECT_EQ(Outcome(report, "nosuch.qxm").Reason, "not in A:\\Maps");
    EXPECT_EQ(Outcome(report, "Street.qxm").Result, FileResult::Done);
}

// A removal whose status comes too late is settled by looking: the file is gone, so it is
// reported removed; the delete then stops at the first real failure.
TEST_F(TransferBatch, LateRemovalIsSettledByLooking)
{
    Card.Write("Maps/Dyno.wzm", Bytes(10, 1));
    SetFaults("delay-in=1:400");
    const BatchReport report = RemoveUnitFiles(*Display, Maps, {"Dyno.wzm", "nosuch.qxm", "Street.qxm"}, Observer);
    EXPECT_EQ(Outcome(report, "Dyno.wzm").Result, FileResult::Done);
    EXPECT_FALSE(OnCard("Maps/Dyno.wzm"));
    EXPECT_EQ(Outcome(report, "nosuch.qxm").Reason, "no such file on the unit");
    EXPECT_EQ(Outcome(report, "Street.qxm").Result, FileResult::NotTried);
    EXPECT_TRUE(OnCard("Maps/Street.qxm"));
}

// A file that was never there is never reported removed, whichever answer is lost on the way.
TEST_F(TransferBatch, MissingFileIsNeverReportedRemoved)
{
    for (int lost = 1; lost <= 8; ++lost) {
        SetFaults(("drop-in=" + std::to_string(lost)).c_str());
        const BatchReport report = RemoveUnitFiles(*Display, Maps, {"nosuch.qxm"}, Observer);
        EXPECT_NE(Outcome(report, "nosuch.qxm").Result, FileResult::Done) << "drop-in=" << lost;
    }
}

// A stop request ends the file under way between two blocks and leaves the rest undone.
TEST_F(TransferBatch, StopLeavesTheRestUndone)
{
    Card.Write("Maps/Two.qxm", Bytes(3000, 2));
    Observer.StopAfter = 3;
    const BatchReport report =
        GetUnitFiles(*Display, Maps, {{"Street.qxm", 3000}, {"Two.qxm", 3000}}, Local.Path(), Observer);
    EXPECT_TRUE(report.Stopped);
    EXPECT_EQ(report.Count(FileResult::Cancelled), 2u);
    EXPECT_TRUE(testsupport::FolderEntries(Local.Path()).empty());
}

// A name with a character of the unit's code page travels as its byte and comes back the same.
TEST_F(TransferBatch, NamesRoundTripThroughTheUnit)
{
    Local.Write("Café.qxm", Bytes(1200, 5));
    ASSERT_TRUE(SendLocalFiles(*Display, Maps, {Local.Path() / PathFromUtf8("Café.qxm")}, SendKind::Chosen, Observer).AllDone());
    uint32_t end = 1;
    bool listed = false;
    for (const UnitFileInfo& file : ListUnitFiles(*Display, Maps, end))
        listed = listed || (file.Name == "Café.qxm" && file.Size == 1200);
    EXPECT_EQ(end, 0u);
    EXPECT_TRUE(listed);
    testsupport::TempFolder back;
    ASSERT_TRUE(GetUnitFiles(*Display, Maps, {{"Café.qxm", 1200}}, back.Path(), Observer).AllDone());
    EXPECT_EQ(back.Read("Café.qxm"), Bytes(1200, 5));
}
