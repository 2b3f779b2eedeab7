// What the firmware update refuses, reads back and lets the user stop, through
// the simulated unit and through tessaly-cli flash.
#include <gtest/gtest.h>

#include "FlashCommand.h"
#include "UpdateTestSupport.h"

using namespace updatetest;

namespace {

// Layout row 1 from this AppStart on: sectors 15 to 17 may be programmed,
// sector 18 (0x1007E000) is never erased, so 0x6000 bytes fit.
constexpr uint32_t LateAppStart = 0x10078000;
constexpr uint32_t Room = 0x1007E000 - LateAppStart;

bool Contains(const std::vector<std::string>& texts, const std::string& part)
{
    for (const std::string& text : texts)
        if (text.find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace

// An image that fills the flash up to the sector that is never erased is
// programmed; one address unit more is refused before anything is erased.
TEST(UpdateFit, RefusedBeforeErasingWhenOneUnitTooLong)
{
    for (const uint32_t unit : {1u, 2u}) {
        SCOPED_TRACE(unit);
        BootRig rig;
        rig.SetChip(1, unit, LateAppStart);
        RecordingUi ui;
        ui.Chosen = rig.Folder.Write("big.bin", Pattern(Room + unit));
        const FirmwareUpdateResult result = rig.Run(ui);
        EXPECT_EQ(result.End, UpdateEnd::Failed);
        EXPECT_EQ(result.Code, ERR_BUFFER_UNDER);
        EXPECT_TRUE(rig.Host->EraseLog().empty());
        EXPECT_TRUE(Contains(ui.Messages, "Nothing was erased")) << ui.Messages.front();
    }
    BootRig rig;
    rig.SetChip(1, 1, LateAppStart);
    const std::vector<uint8_t> image = Pattern(Room, 3);
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fits.bin", image);
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_TRUE(result.Verified);
    EXPECT_EQ(rig.Host->ReadFlash(LateAppStart, Room), image);
}

// A byte that the unit programmed wrong is found by reading the image back:
// the first differing address is reported, the end of the update is not sent
// and the unit stays in its bootloader, ready for another try.
TEST(UpdateVerify, MismatchKeepsTheUnitInItsBootloader)
{
    BootRig rig;
    rig.SetFaults("corrupt-flash=2:100");
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(9216, 4));
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::Failed);
    EXPECT_EQ(result.Code, ERR_VERIFY_ERR);
    EXPECT_EQ(result.MismatchAddress, 0x10008000u + 3072 + 100);
    EXPECT_EQ(ui.Statuses.back(), "Verification failed at 0x10008C64.");
    EXPECT_TRUE(Contains(ui.Messages, "0x10008C64")) << ui.Messages.front();
    EXPECT_FALSE(rig.ListedInNormalMode());
    EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);

    // The next try, without the fault, puts the unit right.
    rig.SetFaults("");
    RecordingUi again;
    again.Chosen = ui.Chosen;
    EXPECT_TRUE(rig.Run(again).Succeeded());
    EXPECT_EQ(rig.Host->ReadFlash(0x10008000, 9216), Pattern(9216, 4));
}

// Verification can be skipped (tessaly-cli --no-verify): then a wrong byte
// passes unseen, and the end says the image was not read back.
TEST(UpdateVerify, SkippedOnRequest)
{
    BootRig rig;
    rig.SetFaults("corrupt-flash=1:5");
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072, 5));
    rig.Boot->FindBootDevices();
    FirmwareUpdateOptions options;
    options.Verify = false;
    const FirmwareUpdateResult result = RunFirmwareUpdate(rig.Boot.get(), *rig.Host, ui, options);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_FALSE(result.Verified);
    EXPECT_EQ(ui.Messages, std::vector<std::string>{UpdatedUnverifiedText});
}

// Cancelled before the first erase, the unit goes back to its firmware.
TEST(UpdateCancel, BeforeErasingKeepsTheFirmware)
{
    BootRig rig;
    RecordingUi ui;
    ui.Chosen = rig.Folder.Write("fw.bin", Pattern(3072));
    ui.OnStatus = [&](const std::string& text) {
        if (text == "fw.bin loaded.")
            ui.Cancel = true;
    };
    const FirmwareUpdateResult result = rig.Run(ui);
    EXPECT_EQ(result.End, UpdateEnd::Cancelled);
    EXPECT_TRUE(rig.Host->EraseLog().empty());
    EXPECT_TRUE(Contains(ui.Messages, "keeps its firmware"));
    EXPECT_TRUE(rig.ListedInNormalMode());
}

// tessaly-cli flash says "verified" on success, skips the pass with
// --no-verify, refuses an image too long before erasing, and fails on a byte
// programmed wrong.
TEST(FlashCommand, VerifiesAndSaysSo)
{
    {
        BootRig rig;
        const std::string path = rig.Folder.Write("fw.bin", Pattern(4096, 6));
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunFlashCommand(*rig.Host, {path}), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Firmware updated and verified."), std::string::npos) << out;
    }
    {
        BootRig rig;
        const std::string path = rig.Folder.Write("fw.bin", Pattern(4096, 6));
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunFlashCommand(*rig.Host, {path, "--no-verify"}), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find("verified"), std::string::npos) << out;
    }
    {
        BootRig rig;
        rig.SetChip(1, 1, LateAppStart);
        EXPECT_EQ(RunFlashCommand(*rig.Host, {rig.Folder.Write("big.bin", Pattern(Room + 1))}), 1);
        EXPECT_TRUE(rig.Host->EraseLog().empty());
    }
    {
        BootRig rig;
        rig.SetFaults("corrupt-flash=1:0");
        EXPECT_EQ(RunFlashCommand(*rig.Host, {rig.Folder.Write("fw.bin", Pattern(4096, 7))}), 1);
        EXPECT_EQ(rig.Host->Mode(), sim::UnitMode::Bootloader);
    }
}
