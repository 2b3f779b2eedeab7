// The real transport and command set (QXDisplay) against the simulated unit,
// on two hosts: the unit's own host (SimHost), and the scripted fake host
// (FakeHost) whose responder hands every written report to the unit and
// queues every report the unit answers. The same expectations hold on both.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>

#include "FakeHost.h"
#include "Qxdisplay.h"
#include "SimHost.h"
#include "SimTestSupport.h"

using namespace sim;
using Clock = std::chrono::steady_clock;

namespace {

// Callbacks are plain functions, so what they see is collected here.
std::vector<std::string> ListedNames;
std::vector<bool> ListedFolders;
std::vector<uint32_t> ProgressDone;

void CollectEntry(const char*, const FILE_ENTRY& entry)
{
    ListedNames.push_back(entry.Name());
    ListedFolders.push_back(entry.IsFolder());
}

void CollectProgress(const char*, const char*, uint32_t, uint32_t done)
{
    ProgressDone.push_back(done);
}

// The simulated unit behind the scripted fake host, on an instant link: each
// written report goes to the unit and its answer is queued before the write
// returns. At the end of an update the unit leaves the bus and is back at once
// in its normal firmware.
class ScriptedUnit {
public:
    explicit ScriptedUnit(const SimOptions& options) : Unit(options.Unit)
    {
        Unit.PowerUp(options.StartInBootloader ? UnitMode::Bootloader : UnitMode::Normal);
        PlugIn();
        Host.Responder = [this](FakeHost& host, const Report& report) { Answer(host, report); };
    }

    void WithUnit(const std::function<void(SimulatedUnit&)>& action)
    {
        std::lock_guard lock(Mutex);
        action(Unit);
    }

    FakeHost Host;

private:
    void PlugIn()
    {
        FakeInterface iface;
        iface.Ids = {Unit.Settings().VendorId,
                     Unit.Mode() == UnitMode::Normal ? UnitNormalProductId : UnitBootProductId};
        Host.AddInterface(SimUnitPath, iface);
    }

    void Answer(FakeHost& host, const Report& report)
    {
        std::lock_guard lock(Mutex);
        const UnitAnswer answer = Unit.ReceiveReport(report.data(), report.size(), host.Ticks());
        if (!answer.Reports.empty()) {
            std::vector<Report> replies;
            for (const auto& reply : answer.Reports)
                replies.emplace_back(reply.begin(), reply.end());
            host.Inject(replies);
        }
        if (answer.Finished) {
            host.Unplug();
            Unit.PowerUp(UnitMode::Normal);
            PlugIn();
        }
    }

    std::mutex Mutex;
    SimulatedUnit Unit;
};

enum class UnitHost { Sim, Fake };

const char* HostName(UnitHost host) { return host == UnitHost::Sim ? "SimHost" : "FakeHost"; }
void PrintTo(UnitHost host, std::ostream* out) { *out << HostName(host); }

// The cases that hold on both hosts: what the unit answers, not how the link carries it.
class ContractTest : public simtest::SimDisplayTest, public ::testing::WithParamInterface<UnitHost> {
protected:
    void Start(SimOptions options = {})
    {
        if (GetParam() == UnitHost::Sim) {
            SimDisplayTest::Start(std::move(options));
            return;
        }
        options.Unit.CardFolder = Card.Path();
        Scripted = std::make_unique<ScriptedUnit>(options);
        Display = std::make_unique<QXDisplay>(Scripted->Host);
    }
    void TearDown() override
    {
        SimDisplayTest::TearDown(); // the display goes before the host it uses
        Scripted.reset();
    }
    // Runs `action` on the unit between two of the display's requests.
    void WithUnit(const std::function<void(SimulatedUnit&)>& action)
    {
        Host ? Host->WithUnit(action) : Scripted->WithUnit(action);
    }

    std::unique_ptr<ScriptedUnit> Scripted;
};

INSTANTIATE_TEST_SUITE_P(Hosts, ContractTest, ::testing::Values(UnitHost::Sim, UnitHost::Fake),
                         [](const ::testing::TestParamInfo<UnitHost>& info) { return HostName(info.param); });

// The cases that need the simulated unit's own host: its fault plans act on the link (lost,
// late, corrupted reports, a muted or unplugged unit), and only it has the full-speed link.
class SimContractTest : public simtest::SimDisplayTest {};

using simtest::Logs;
using simtest::Maps;

} // namespace

// Info and identity: firmware version and AppStart, then the identity block at AppStart - 2048.
TEST_P(ContractTest, InfoAndIdentity)
{
    Start();
    ASSERT_EQ(Open(), 0u);
    DISPLAY_INFO info;
    ASSERT_EQ(Display->GetDeviceInfo(info), 0u);
    EXPECT_EQ(info.FirmwareVersion, 0x01020300u);
    EXPECT_EQ(info.AppStart, 0x10008000u);
    DISPLAY_IDENTITY identity;
    ASSERT_EQ(Display->ReadDeviceIdentity(info.AppStart, identity), 0u);
    EXPECT_EQ(identity.Serial(), "QX-SIM-000123");
    EXPECT_EQ(identity.DeviceKey[0], 0x51);
    EXPECT_EQ(identity.BootloaderVersion, 0x01000000u);
}

// The listing reaches the callback entry by entry, the folder marked as one,
// and ends complete on the unit's end entry.
TEST_P(ContractTest, ListingWithFolder)
{
    Card.Write("Maps/Track.qxm", {1, 2, 3});
    Card.Write("Maps/Ring.wzm", {4});
    std::filesystem::create_directories(Card.Path() / "Maps" / "Archive");
    Start();
    ASSERT_EQ(Open(), 0u);
    ListedNames.clear();
    ListedFolders.clear();
    EXPECT_EQ(Display->ListFiles(Maps, "*.*", CollectEntry), 0u);
    EXPECT_EQ(ListedNames, (std::vector<std::string>{"Archive", "Ring.wzm", "Track.qxm"}));
    EXPECT_EQ(ListedFolders, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(Display->ListingEnd(), 0u);
}

// PutFile, GetFile and RemoveFile round trip: the bytes land on the card and come back, the
// progress steps are 0, 0, 1024, 2048, 2500, and a second put replaces the file.
TEST_P(ContractTest, PutGetRemoveRoundTrip)
{
    Start();
    ASSERT_EQ(Open(), 0u);
    const std::vector<uint8_t> data = simtest::Pattern(2500, 3);
    ASSERT_EQ(Display->PutFile(Logs, "RUN1.displog", 2500, data.data(), nullptr), 0u);
    EXPECT_EQ(Card.Read("Logs/RUN1.displog"), data);

    const std::vector<uint8_t> second = simtest::Pattern(1500, 4);
    ASSERT_EQ(Display->PutFile(Logs, "RUN1.displog", 1500, second.data(), nullptr), 0u);
    EXPECT_EQ(Card.Read("Logs/RUN1.displog"), second);

    ASSERT_EQ(Display->PutFile(Logs, "RUN1.displog", 2500, data.data(), nullptr), 0u);
    std::vector<uint8_t> back(2500);
    ProgressDone.clear();
    ASSERT_EQ(Display->GetFile(Logs, "RUN1.displog", 2500, back.data(), CollectProgress), 0u);
    EXPECT_EQ(back, data);
    EXPECT_EQ(ProgressDone, (std::vector<uint32_t>{0, 0, 1024, 2048, 2500}));

    EXPECT_EQ(Display->ProbeFile(Logs, "RUN1.displog"), 0u);
    EXPECT_EQ(Display->RemoveFile(Logs, "RUN1.displog"), 0u);
    EXPECT_FALSE(std::filesystem::exists(Card.Path() / "Logs" / "RUN1.displog"));
    EXPECT_EQ(Display->ProbeFile(Logs, "RUN1.displog"), StatusOffset + StatusFileNotFound);
}

// A locked card refuses writes and removals with its status byte; reading still works.
TEST_P(ContractTest, LockedCardStatuses)
{
    Card.Write("Maps/Old.qxm", {9, 9});
    Start();
    ASSERT_EQ(Open(), 0u);
    WithUnit([](SimulatedUnit& unit) { unit.Card().SetLocked(true); });
    const std::vector<uint8_t> data(100, 1);
    EXPECT_EQ(Display->PutFile(Maps, "New.qxm", 100, data.data(), nullptr), StatusOffset + StatusCardLocked);
    EXPECT_EQ(Display->RemoveFile(Maps, "Old.qxm"), StatusOffset + StatusCardLocked);
    std::vector<uint8_t> back(2);
    EXPECT_EQ(Display->GetFile(Maps, "Old.qxm", 2, back.data(), nullptr), 0u);
    EXPECT_EQ(back, (std::vector<uint8_t>{9, 9}));
}

// The bootloader cycle: info, erase of the program sectors, programming with the flags, the status
// text, FinishUpdate; the unit then comes back in normal mode with the image in its flash.
TEST_P(ContractTest, BootloaderCycle)
{
    SimOptions options;
    options.StartInBootloader = true;
    Start(options);
    EXPECT_NE(Open(false), 0u); // no unit in normal mode
    ASSERT_EQ(Open(true), 0u);
    DISPLAY_INFO info;
    ASSERT_EQ(Display->GetBootInfo(info), 0u);
    EXPECT_EQ(info.ChipId, 1u);
    EXPECT_EQ(info.AddressUnit, 1u);
    const std::vector<SectorLayout> layout = ChipLayout(info.ChipId);
    for (uint32_t i = 0; i + 1 < layout.size(); ++i) {
        if (layout[i].Start >= info.AppStart) {
            ASSERT_EQ(Display->EraseSector(i, layout[i].Start), 0u) << i;
        }
    }
    EXPECT_EQ(Display->EraseSector(1, layout[2].Start), StatusOffset + StatusBadSector);

    const std::vector<uint8_t> image = simtest::Pattern(6144, 5);
    ASSERT_EQ(Display->ProgramBlock(0xC1, info.AppStart, 3072, image.data()), 0u);
    ASSERT_EQ(Display->ProgramBlock(0x81, info.AppStart + 3072, 3072, image.data() + 3072), 0u);
    EXPECT_EQ(Display->ProgramBlock(0x81, info.AppStart, 3072, image.data()), StatusOffset + StatusNotErased);
    ASSERT_EQ(Display->ShowText("Progress: 100% Time Left: 0s"), 0u);
    WithUnit([](SimulatedUnit& unit) {
        EXPECT_EQ(unit.ScreenText(), "Progress: 100% Time Left: 0s");
        EXPECT_EQ(unit.EraseLog().size(), 17u);
        const std::vector<ProgramRecord>& programs = unit.ProgramLog();
        ASSERT_EQ(programs.size(), 2u);
        EXPECT_EQ(programs[0].Flags, 0xC1);
        EXPECT_EQ(programs[1].Flags, 0x81);
        EXPECT_EQ(programs[1].Address, 0x10008C00u);
    });

    ASSERT_EQ(Display->FinishUpdate(), 0u);
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Display->IsOpen() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(Display->IsOpen());
    ASSERT_EQ(Open(false), 0u);
    ASSERT_EQ(Display->GetDeviceInfo(info), 0u);
    std::vector<uint8_t> flash(64);
    ASSERT_EQ(Display->ReadDeviceMemory(info.AppStart + 6080, 64, flash.data()), 0u);
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image.begin() + 6080));
}

// The other chip layout and address units reach the unit unchanged through GetBootInfo.
TEST_P(ContractTest, BootInfoCarriesChipSettings)
{
    SimOptions options;
    options.StartInBootloader = true;
    options.Unit.ChipId = 0;
    options.Unit.AddressUnit = 4;
    Start(options);
    ASSERT_EQ(Open(true), 0u);
    DISPLAY_INFO info;
    ASSERT_EQ(Display->GetBootInfo(info), 0u);
    EXPECT_EQ(info.ChipId, 0u);
    EXPECT_EQ(info.AddressUnit, 4u);
    EXPECT_EQ(Display->EraseSector(4, 0x10008000), 0u);
    const std::vector<uint8_t> block = simtest::Pattern(3072);
    // Image offset 3072 goes to address AppStart + 768 with 4 bytes per address step.
    ASSERT_EQ(Display->ProgramBlock(0x00, info.AppStart + 768, 3072, block.data()), 0u);
    WithUnit([&](SimulatedUnit& unit) {
        const auto at = unit.Flash().begin() + (info.AppStart + 3072 - UnitFlashBase);
        EXPECT_EQ(std::vector<uint8_t>(at, at + 8), std::vector<uint8_t>(block.begin(), block.begin() + 8));
    });
}

// A status failure on the second block stops PutFile with that code; the first block stays. The
// unit itself answers with the failure, so it holds on both hosts.
TEST_P(ContractTest, StatusFailureStopsPutFile)
{
    Start();
    ASSERT_EQ(Open(), 0u);
    WithUnit([](SimulatedUnit& unit) { unit.SetStatusFaults(FaultPlan::Parse("status=0x4012:0x33@2")->Statuses); });
    const std::vector<uint8_t> data = simtest::Pattern(3000);
    EXPECT_EQ(Display->PutFile(Maps, "half.qxm", 3000, data.data(), nullptr), StatusOffset + 0x33);
    EXPECT_EQ(Card.Read("Maps/half.qxm"), std::vector<uint8_t>(data.begin(), data.begin() + 1024));
}

// An unplug in the middle of GetFile ends it with a failure code within the block's time-out.
TEST_F(SimContractTest, UnplugMidGetFile)
{
    Card.Write("Logs/long.displog", simtest::Pattern(20000));
    Start();
    ASSERT_EQ(Open(), 0u);
    SetFaults("unplug-after=40");
    std::vector<uint8_t> back(20000);
    const auto start = Clock::now();
    const uint32_t result = Display->GetFile(Logs, "long.displog", 20000, back.data(), nullptr);
    EXPECT_TRUE(result == ERR_TIMEOUT || result == ERR_DEVICE_CLOSED || result == ERR_WRITE_FAILED) << result;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_FALSE(Display->IsOpen());
    Display->FindDevices();
    EXPECT_EQ(Display->DeviceCount(), 0);
}

// A lost input report leaves the reply incomplete: the wait ends with ERR_TIMEOUT.
TEST_F(SimContractTest, DroppedReportTimesOut)
{
    Card.Write("Logs/a.displog", simtest::Pattern(1024));
    Start();
    ASSERT_EQ(Open(), 0u);
    SetFaults("drop-in=1");
    DISPLAY_INFO info;
    EXPECT_EQ(Display->GetDeviceInfo(info), ERR_TIMEOUT);
    // A report lost inside a block's reply: the half-built reply is dropped
    // after the silence, the link is brought back in step, and the block is
    // asked for once more.
    SetFaults("drop-in=4");
    std::vector<uint8_t> back(1024);
    ASSERT_EQ(Display->GetFile(Logs, "a.displog", 1024, back.data(), nullptr), 0u);
    EXPECT_EQ(back, simtest::Pattern(1024));
    // A unit that stops answering fails the get with the block's time-out.
    SetFaults("mute-after=1");
    EXPECT_EQ(Display->GetFile(Logs, "a.displog", 1024, back.data(), nullptr), ERR_TIMEOUT);
}

// A request corrupted on the way fails the unit's checksum, which answers with its status byte.
TEST_F(SimContractTest, CorruptedRequestChecksum)
{
    Card.Write("Maps/x.qxm", {1});
    Start();
    ASSERT_EQ(Open(), 0u);
    SetFaults("corrupt-out=1");
    EXPECT_EQ(Display->RemoveFile(Maps, "x.qxm"), StatusOffset + StatusBadChecksum);
    EXPECT_TRUE(std::filesystem::exists(Card.Path() / "Maps" / "x.qxm"));
    EXPECT_EQ(Display->RemoveFile(Maps, "x.qxm"), 0u);
}

// A muted unit answers nothing: the status wait ends with ERR_TIMEOUT.
TEST_F(SimContractTest, MutedUnitTimesOut)
{
    Start();
    ASSERT_EQ(Open(), 0u);
    SetFaults("mute-after=1");
    EXPECT_EQ(Display->RemoveFile(Maps, "x.qxm"), ERR_TIMEOUT);
}

// An output report the unit does not take within the write's 100 ms fails the send.
TEST_F(SimContractTest, StalledWriteFails)
{
    Start();
    ASSERT_EQ(Open(), 0u);
    SetFaults("delay-out=1:400");
    DISPLAY_INFO info;
    EXPECT_EQ(Display->GetDeviceInfo(info), ERR_WRITE_FAILED);
    EXPECT_EQ(Display->GetDeviceInfo(info), 0u);
}

// The same transfer at USB full speed: the link's pacing does not change the result.
TEST_F(SimContractTest, FullSpeedRoundTrip)
{
    SimOptions options;
    options.Link = LinkModel::FullSpeed;
    Start(options);
    ASSERT_EQ(Open(), 0u);
    const std::vector<uint8_t> data = simtest::Pattern(5000, 8);
    ASSERT_EQ(Display->PutFile(Logs, "fast.displog", 5000, data.data(), nullptr), 0u);
    std::vector<uint8_t> back(5000);
    ASSERT_EQ(Display->GetFile(Logs, "fast.displog", 5000, back.data(), nullptr), 0u);
    EXPECT_EQ(back, data);
}
