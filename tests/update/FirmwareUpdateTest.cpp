// The firmware update run end to end against the simulated unit in its
// bootloader (instant link): what the window shows, what the unit is sent,
// what its flash holds afterwards and how each failure ends.
#include <gtest/gtest.h>

#include <regex>

#include "FirmwareUpdate.h"
#include "UpdateTestSupport.h"

using namespace updatetest;

namespace {

constexpr uint32_t AppStart = 0x10008000;

std::vector<std::string> ErasingSectors(uint32_t first, uint32_t last)
{
    std::vector<std::string> texts;
    for (uint32_t i = first; i <= last; ++i)
        texts.push_back("Erasing sector " + std::to_string(i) + ".");
    return texts;
}

bool IsProgressText(const std::string& text, int percent)
{
    return std::regex_match(text, std::regex("Progress: " + std::to_string(percent) + "% Time Left: [0-9]+s"));
}

void ExpectNothingErased(BootRig& rig)
{
    EXPECT_TRUE(rig.Host->EraseLog().empty());
    EXPECT_TRUE(rig.Host->ProgramLog().empty());
    // No end of update either: the unit still waits in its bootloader.
    EXPECT_TRUE(rig.Host->IsPlugged());
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
}

// The message box of a failed update: the result code's name, then a plain
// sentence of what it means and what to do.
void ExpectExplained(const RecordingUi& ui, const std::string& code, const std::string& phrase)
{
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0].rfind(code + "\n\n", 0), 0u) << ui.Messages[0];
    EXPECT_NE(ui.Messages[0].find(phrase), std::string::npos) << ui.Messages[0];
}

} // namespace

// The layouts cover 0x10000000 to 0x10080000 without gaps, and agree with the
// simulated unit's own table of the same chips.
TEST(ChipLayouts, RowsAsTheBootloaderHasThem)
{
    ASSERT_EQ(CHIP_LAYOUTS[0].ChipId, 1u);
    ASSERT_EQ(CHIP_LAYOUTS[1].ChipId, 0u);
    for (const ChipLayoutRow& row : CHIP_LAYOUTS) {
        ASSERT_EQ(row.SectorCount, 19u);
        EXPECT_EQ(row.Address[0], 0x10000000u);
        for (uint32_t i = 0; i + 1 < row.SectorCount; ++i)
            EXPECT_EQ(row.Address[i] + row.Size[i], row.Address[i + 1]) << "chip " << row.ChipId << " sector " << i;
        EXPECT_EQ(row.Address[18] + row.Size[18], 0x10080000u);
        const std::vector<sim::SectorLayout> sim = sim::ChipLayout(row.ChipId);
        ASSERT_EQ(sim.size(), row.SectorCount);
        for (uint32_t i = 0; i < row.SectorCount; ++i) {
            EXPECT_EQ(sim[i].Start, row.Address[i]);
            EXPECT_EQ(sim[i].Size, row.Size[i]);
        }
    }
    EXPECT_EQ(CHIP_LAYOUTS[0].Address[15], 0x10078000u);
    EXPECT_EQ(CHIP_LAYOUTS[0].Size[15], 0x4000u);
    EXPECT_EQ(CHIP_LAYOUTS[1].Address[4], 0x10008000u);
    EXPECT_EQ(FindChipLayout(1), &CHIP_LAYOUTS[0]);
    EXPECT_EQ(FindChipLayout(0), &CHIP_LAYOUTS[1]);
    EXPECT_EQ(FindChipLayout(2), nullptr);
}

// Percent and seconds left, each to the nearest whole number, from the average
// speed since programming began.
TEST(ProgressText, PercentAndTimeLeft)
{
    EXPECT_EQ(ProgressText(4500, 10000, 10636), "Progress: 45% Time Left: 13s");
    EXPECT_EQ(ProgressText(3072, 6144, 2400), "Progress: 50% Time Left: 2s");
    EXPECT_EQ(ProgressText(3072, 6144, 2600), "Progress: 50% Time Left: 3s");
    EXPECT_EQ(ProgressText(6144, 6144, 5000), "Progress: 100% Time Left: 0s");
    EXPECT_EQ(ProgressText(1, 3, 0), "Progress: 33% Time Left: 0s");
}

// A 6144-byte plain image: two blocks with flags 0x00 at AppStart and
// AppStart + 3072; row 1 with AppStart 0x10008000 counts 18 sectors and
// erases 1 to 17; every text on the window and the unit's screen; afterwards
// the flash holds the image and the unit is back in normal mode.
TEST(FirmwareUpdate, PlainImageEndToEnd)
{
    BootRig rig;
    const std::vector<uint8_t> image = Pattern(6144);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", image);

    const FirmwareUpdateResult result = rig.Run(ui);

    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.End, UpdateEnd::Finished);
    EXPECT_EQ(ui.Statuses, (std::vector<std::string>{"Display Bootloader found.", "ChipID found.", "fw.bin loaded.",
                                                      "Erasing 18 Program Sectors...", "Program Sectors Erased.",
                                                      "Sending file to device...", "Verifying the programmed image...",
                                                      UpdatedAndVerifiedText}));
    std::vector<std::string> files = {""};
    for (const std::string& text : ErasingSectors(1, 17))
        files.push_back(text);
    ASSERT_EQ(ui.Files.size(), files.size() + 4);
    EXPECT_EQ(std::vector<std::string>(ui.Files.begin(), ui.Files.begin() + static_cast<long>(files.size())), files);
    EXPECT_TRUE(IsProgressText(ui.Files[files.size()], 50)) << ui.Files[files.size()];
    EXPECT_EQ(ui.Files[files.size() + 1], "Progress: 100% Time Left: 0s");
    // The image is read back and compared before the end of the update goes out.
    EXPECT_EQ(ui.Files[files.size() + 2], "Verifying: 50%");
    EXPECT_EQ(ui.Files.back(), "Verifying: 100%");
    EXPECT_EQ(ui.Messages, std::vector<std::string>{UpdatedAndVerifiedText});
    EXPECT_EQ(ui.Panel, (std::vector<bool>{true, false}));
    ASSERT_GE(ui.Bars.size(), 2u);
    EXPECT_EQ(ui.Bars.front(), (std::pair<uint32_t, uint32_t>{0, 18}));
    EXPECT_EQ(ui.Bars[17], (std::pair<uint32_t, uint32_t>{17, 18}));
    EXPECT_EQ(ui.Bars.back(), (std::pair<uint32_t, uint32_t>{6144, 6144}));

    const std::vector<sim::EraseRecord> erased = rig.Host->EraseLog();
    ASSERT_EQ(erased.size(), 17u);
    for (uint32_t i = 0; i < 17; ++i) {
        EXPECT_EQ(erased[i].Sector, i + 1);
        EXPECT_EQ(erased[i].Address, CHIP_LAYOUTS[0].Address[i + 1]);
    }
    const std::vector<sim::ProgramRecord> programmed = rig.Host->ProgramLog();
    ASSERT_EQ(programmed.size(), 2u);
    EXPECT_EQ(programmed[0].Flags, 0x00);
    EXPECT_EQ(programmed[0].Address, 0x10008000u);
    EXPECT_EQ(programmed[0].Length, 3072u);
    EXPECT_EQ(programmed[1].Flags, 0x00);
    EXPECT_EQ(programmed[1].Address, 0x10008C00u);
    EXPECT_EQ(programmed[1].Length, 3072u);

    const std::vector<std::string> screen = rig.Host->ScreenHistory();
    ASSERT_EQ(screen.size(), 6u);
    EXPECT_EQ(screen[0], "Erasing 18 Program Sectors...");
    EXPECT_EQ(screen[1], "Program Sectors Erased.");
    EXPECT_EQ(screen[2], ui.Files[files.size()]);
    EXPECT_EQ(screen[3], "Progress: 100% Time Left: 0s");
    EXPECT_EQ(screen[5], "Verifying: 100%");

    EXPECT_EQ(rig.Host->ReadFlash(AppStart, 6144), image);
    EXPECT_TRUE(rig.ListedInNormalMode());
    EXPECT_FALSE(FirmwareUpdateRunning());
}

// A package's image goes out with 0x80, plus 0x40 on its first block.
TEST(FirmwareUpdate, PackageImageFlags)
{
    BootRig rig;
    const std::vector<uint8_t> image = Pattern(6144, 7);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.qxf", Package({{3, Pattern(10, 3)}, {4, image}}));

    EXPECT_TRUE(rig.Run(ui).Succeeded());
    EXPECT_EQ(ui.Statuses[2], "fw.qxf loaded.");
    const std::vector<sim::ProgramRecord> programmed = rig.Host->ProgramLog();
    ASSERT_EQ(programmed.size(), 2u);
    EXPECT_EQ(programmed[0].Flags, 0xC0);
    EXPECT_EQ(programmed[0].Address, 0x10008000u);
    EXPECT_EQ(programmed[1].Flags, 0x80);
    EXPECT_EQ(programmed[1].Address, 0x10008C00u);
    EXPECT_EQ(rig.Host->ReadFlash(AppStart, 6144), image);
}

// Addresses count in address units: with 2, image offset 3072 goes to AppStart + 1536.
TEST(FirmwareUpdate, AddressUnitTwo)
{
    BootRig rig;
    rig.SetChip(1, 2, AppStart);
    const std::vector<uint8_t> image = Pattern(6144, 9);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", image);

    EXPECT_TRUE(rig.Run(ui).Succeeded());
    const std::vector<sim::ProgramRecord> programmed = rig.Host->ProgramLog();
    ASSERT_EQ(programmed.size(), 2u);
    EXPECT_EQ(programmed[0].Address, AppStart);
    EXPECT_EQ(programmed[1].Address, AppStart + 1536);
    EXPECT_EQ(rig.Host->ReadFlash(AppStart, 6144), image);
}

// Row 2 with AppStart 0x10008000: sectors 4 to 18 count, 4 to 17 are erased,
// and a short last block carries only what is left.
TEST(FirmwareUpdate, SecondLayoutAndShortLastBlock)
{
    BootRig rig;
    rig.SetChip(0, 1, AppStart);
    const std::vector<uint8_t> image = Pattern(4000, 5);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", image);

    EXPECT_TRUE(rig.Run(ui).Succeeded());
    EXPECT_EQ(ui.Statuses[3], "Erasing 15 Program Sectors...");
    const std::vector<sim::EraseRecord> erased = rig.Host->EraseLog();
    ASSERT_EQ(erased.size(), 14u);
    EXPECT_EQ(erased.front().Sector, 4u);
    EXPECT_EQ(erased.front().Address, 0x10008000u);
    EXPECT_EQ(erased.back().Sector, 17u);
    EXPECT_EQ(erased.back().Address, 0x10070000u);
    const std::vector<sim::ProgramRecord> programmed = rig.Host->ProgramLog();
    ASSERT_EQ(programmed.size(), 2u);
    EXPECT_EQ(programmed[1].Address, AppStart + 3072);
    EXPECT_EQ(programmed[1].Length, 928u);
    EXPECT_EQ(rig.Host->ReadFlash(AppStart, 4000), image);
}

// The image length must be a whole multiple of the address unit; a failure
// is caught before anything is erased.
TEST(FirmwareUpdate, AlignmentCheck)
{
    {
        BootRig rig;
        rig.SetChip(1, 4, AppStart);
        RecordingUi ui;
        ui.Chosen = rig.Folder.Write("odd.bin", Pattern(3001));
        const FirmwareUpdateResult result = rig.Run(ui);
        EXPECT_EQ(result.End, UpdateEnd::Failed);
        EXPECT_EQ(result.Code, ERR_BUFFER_UNDER);
        ASSERT_GE(ui.Statuses.size(), 2u);
        EXPECT_EQ(ui.Statuses[ui.Statuses.size() - 2], "odd.bin loaded.");
        EXPECT_EQ(ui.Statuses.back(), "bin buffer alignment error.");
        ExpectExplained(ui, "ERR_BUFFER_UNDER", "address units (4 bytes)");
        EXPECT_EQ(ui.Panel.back(), false);
        ExpectNothingErased(rig);
    }
    {
        BootRig rig;
        rig.SetChip(1, 4, AppStart);
        const std::vector<uint8_t> image = Pattern(3000);
        RecordingUi ui;
        ui.Chosen = rig.Folder.Write("even.bin", image);
        EXPECT_TRUE(rig.Run(ui).Succeeded());
        ASSERT_EQ(rig.Host->ProgramLog().size(), 1u);
        EXPECT_EQ(rig.Host->ProgramLog()[0].Length, 3000u);
        EXPECT_EQ(rig.Host->ReadFlash(AppStart, 3000), image);
    }
}

// An address unit of 0 is reported as an alignment error and never divided by.
TEST(FirmwareUpdate, AddressUnitZeroRefused)
{
    BootRig rig;
    rig.SetChip(1, 0, AppStart);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.Code, ERR_BUFFER_UNDER);
    EXPECT_EQ(ui.Statuses.back(), "bin buffer alignment error.");
    ExpectExplained(ui, "ERR_BUFFER_UNDER", "address units");
    ExpectNothingErased(rig);
}

// Without an image (dialog cancelled, file gone, unreadable, empty, package
// without firmware) the run ends with "bin buffer error" and ERR_BUFFER_UNDER.
TEST(FirmwareUpdate, NoImage)
{
    TempFolder folder;
    std::filesystem::create_directory(folder.Path() / "dir.bin");
    const std::vector<std::optional<std::string>> choices = {
        std::nullopt,
        (folder.Path() / "missing.bin").string(),
        (folder.Path() / "dir.bin").string(),
        folder.Write("empty.bin", {}),
        folder.Write("nofw.qxf", Package({{3, Pattern(16)}})),
        folder.Write("bad.qxf", Pattern(64)),
    };
    for (const auto& choice : choices) {
        SCOPED_TRACE(choice.value_or("(cancelled)"));
        BootRig rig;
        RecordingUi ui;
        ui.Chosen = choice;
        const FirmwareUpdateResult result = rig.Run(ui);
        EXPECT_EQ(result.End, UpdateEnd::Failed);
        EXPECT_EQ(result.Code, ERR_BUFFER_UNDER);
        EXPECT_EQ(ui.Choices, 1);
        EXPECT_EQ(ui.Statuses, (std::vector<std::string>{"Display Bootloader found.", "ChipID found.",
                                                          "bin buffer error"}));
        ExpectExplained(ui, "ERR_BUFFER_UNDER", choice ? "could not be read" : "No firmware image was chosen");
        ExpectNothingErased(rig);
    }
}

// No bootloader object: one message, the panel hidden, nothing else.
TEST(FirmwareUpdate, NoBootloader)
{
    BootRig rig;
    RecordingUi ui;
    const FirmwareUpdateResult result = RunFirmwareUpdate(nullptr, *rig.Host, ui);
    EXPECT_EQ(result.End, UpdateEnd::NoBootloader);
    EXPECT_EQ(ui.Messages, (std::vector<std::string>{"Display bootloader not found on the USB bus."}));
    EXPECT_EQ(ui.Panel, (std::vector<bool>{false}));
    EXPECT_TRUE(ui.Statuses.empty());
}

// A chip id outside the table is shown in hex; no image is asked for and the
// unit is sent back to its firmware.
TEST(FirmwareUpdate, UnknownChipId)
{
    BootRig rig;
    rig.SetChip(0xAB12, 1, AppStart);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::UnknownChip);
    EXPECT_EQ(result.ChipId, 0xAB12u);
    EXPECT_EQ(ui.Statuses.back(), "Unknown ChipID. 0x0000AB12");
    EXPECT_EQ(ui.Choices, 0);
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_TRUE(rig.Host->EraseLog().empty());
    EXPECT_TRUE(rig.ListedInNormalMode());
}

// A bootloader that does not answer its query: the status line stays, no
// message, and the end of the update is still sent.
TEST(FirmwareUpdate, FailedBootloaderQuery)
{
    BootRig rig;
    rig.SetFaults("status=0x6000:0x05");
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::QueryFailed);
    EXPECT_EQ(result.Code, ERR_TIMEOUT);
    EXPECT_EQ(ui.Statuses, (std::vector<std::string>{"Display Bootloader found."}));
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_EQ(ui.Panel, (std::vector<bool>{true, false}));
    EXPECT_TRUE(rig.ListedInNormalMode());
}

// A block that fails once is sent again and the run goes on; the failure count
// starts again at 0 after each good block (four failures on each of two blocks).
TEST(FirmwareUpdate, BlockRetries)
{
    for (const char* plan : {"status=0x6002:0x05@1",
                             "status=0x6002:5@1,status=0x6002:5@2,status=0x6002:5@3,status=0x6002:5@4,"
                             "status=0x6002:5@6,status=0x6002:5@7,status=0x6002:5@8,status=0x6002:5@9"}) {
        SCOPED_TRACE(plan);
        BootRig rig;
        rig.SetFaults(plan);
        const std::vector<uint8_t> image = Pattern(6144, 11);
        RecordingUi ui;
        ui.Chosen = rig.Folder.Write("fw.bin", image);
        EXPECT_TRUE(rig.Run(ui).Succeeded());
        const std::vector<sim::ProgramRecord> programmed = rig.Host->ProgramLog();
        ASSERT_EQ(programmed.size(), 2u);
        EXPECT_EQ(programmed[0].Address, AppStart);
        EXPECT_EQ(programmed[1].Address, AppStart + 3072);
        EXPECT_EQ(ui.Messages, std::vector<std::string>{UpdatedAndVerifiedText});
        EXPECT_EQ(rig.Host->ReadFlash(AppStart, 6144), image);
    }
}

// Five failures in a row give the block up: the fifth status is shown, no
// sixth attempt is made and the unit stays in its bootloader.
TEST(FirmwareUpdate, FiveFailuresEndTheRun)
{
    BootRig rig;
    rig.SetFaults("status=0x6002:5@1,status=0x6002:5@2,status=0x6002:5@3,status=0x6002:5@4,status=0x6002:6@5");
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(6144));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::Failed);
    EXPECT_EQ(result.Code, StatusOffset + 6);
    ExpectExplained(ui, ResultCodeName(StatusOffset + 6), "refused a step of programming");
    EXPECT_EQ(ui.Statuses.back(), "Sending file to device...");
    EXPECT_TRUE(rig.Host->ProgramLog().empty());
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
}

// A failing erase stops erasing, says so on the window and the unit, and
// shows the erase's code.
TEST(FirmwareUpdate, EraseFailure)
{
    BootRig rig;
    rig.SetFaults("status=0x6003:0x09@3");
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.Code, StatusOffset + 9);
    EXPECT_EQ(ui.Statuses.back(), "Error erasing program sectors.");
    EXPECT_EQ(rig.Host->ScreenHistory().back(), "Error erasing program sectors.");
    ExpectExplained(ui, ResultCodeName(StatusOffset + 9), "refused a step of erasing");
    EXPECT_EQ(rig.Host->EraseLog().size(), 2u);
    EXPECT_TRUE(rig.Host->ProgramLog().empty());
}

// The unit unplugged in the middle of an erase or of a block: the run ends
// with its failure shown, without hanging.
TEST(FirmwareUpdate, UnpluggedMidway)
{
    {
        BootRig rig;
        RecordingUi ui;
        ui.Chosen = rig.Folder.Write("fw.bin", Pattern(6144));
        ui.OnFile = [&](const std::string& text) {
            if (text == "Erasing sector 3.")
                rig.SetFaults("unplug-after=1");
        };
        const FirmwareUpdateResult result = rig.Run(ui);
        EXPECT_EQ(result.End, UpdateEnd::Failed);
        EXPECT_NE(result.Code, 0u);
        EXPECT_EQ(ui.Statuses.back(), "Error erasing program sectors.");
        ExpectExplained(ui, ResultCodeName(result.Code), "plug it in again and run the update again");
        EXPECT_TRUE(rig.Host->ProgramLog().empty());
        EXPECT_FALSE(rig.Host->IsPlugged());
    }
    {
        BootRig rig;
        RecordingUi ui;
        ui.Chosen = rig.Folder.Write("fw.bin", Pattern(6144));
        ui.OnStatus = [&](const std::string& text) {
            if (text == "Sending file to device...")
                rig.SetFaults("unplug-after=10");
        };
        const FirmwareUpdateResult result = rig.Run(ui);
        EXPECT_EQ(result.End, UpdateEnd::Failed);
        EXPECT_NE(result.Code, 0u);
        EXPECT_EQ(ui.Statuses.back(), "Sending file to device...");
        ExpectExplained(ui, ResultCodeName(result.Code), "plug it in again and run the update again");
        EXPECT_TRUE(rig.Host->ProgramLog().empty());
        EXPECT_EQ(ui.Panel.back(), false);
    }
}

// A second start from inside a pump is refused at once and touches nothing;
// the first run goes on to its end.
TEST(FirmwareUpdate, CannotStartTwice)
{
    BootRig rig;
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    RecordingUi second;
    second.Chosen = ui.Chosen;
    std::optional<FirmwareUpdateResult> nested;
    bool runningInside = false;
    ui.OnPump = [&] {
        if (nested)
            return;
        runningInside = FirmwareUpdateRunning();
        nested = RunFirmwareUpdate(rig.Boot.get(), *rig.Host, second);
    };
    EXPECT_TRUE(rig.Run(ui).Succeeded());
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->End, UpdateEnd::AlreadyRunning);
    EXPECT_EQ(nested->Code, ERR_DEVICE_IN_USE);
    EXPECT_EQ(second.Calls(), 0);
    EXPECT_TRUE(runningInside);
    EXPECT_FALSE(FirmwareUpdateRunning());
    EXPECT_EQ(rig.Host->ProgramLog().size(), 1u);
}

// Closing the application while programming stops between blocks; a partial
// image is not handed over, so the unit stays in its bootloader.
TEST(FirmwareUpdate, TerminatingWhileProgramming)
{
    BootRig rig;
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(9216));
    ui.OnFile = [&](const std::string& text) {
        if (text.rfind("Progress:", 0) == 0)
            ui.Terminate = true;
    };
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::Interrupted);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_EQ(rig.Host->ProgramLog().size(), 1u);
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
    EXPECT_TRUE(rig.Host->IsPlugged());
}

// Closing before the first erase leaves the firmware intact: the run still
// counts as interrupted, and the unit is sent back to its firmware.
TEST(FirmwareUpdate, TerminatingBeforeErasing)
{
    BootRig rig;
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    ui.OnStatus = [&](const std::string& text) {
        if (text == "fw.bin loaded.")
            ui.Terminate = true;
    };
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::Interrupted);
    EXPECT_EQ(ui.Statuses[3], "Erasing 0 Program Sectors...");
    EXPECT_TRUE(rig.Host->EraseLog().empty());
    EXPECT_TRUE(rig.ListedInNormalMode());
}

// A bootloader object whose unit left the bus before the run: the open fails,
// the query fails, and nothing hangs.
TEST(FirmwareUpdate, UnitGoneBeforeStart)
{
    BootRig rig;
    rig.Host->Unplug();
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::QueryFailed);
    EXPECT_NE(result.Code, 0u);
    EXPECT_EQ(ui.Statuses, (std::vector<std::string>{"Display Bootloader found."}));
    EXPECT_EQ(ui.Panel, (std::vector<bool>{true, false}));
}

// The window's connection monitor enumerates again on the same bootloader
// object while the update pumps; the run is not disturbed by it.
TEST(FirmwareUpdate, MonitorTickDuringPump)
{
    BootRig rig;
    const std::vector<uint8_t> image = Pattern(6144, 13);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", image);
    int found = 0;
    ui.OnPump = [&] {
        rig.Boot->FindBootDevices();
        found += rig.Boot->DeviceCount();
    };
    EXPECT_TRUE(rig.Run(ui).Succeeded());
    EXPECT_EQ(found, ui.Pumps);
    EXPECT_EQ(rig.Host->ReadFlash(AppStart, 6144), image);
}
