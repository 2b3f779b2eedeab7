#include "FirmwareUpdate.h"

#include "FirmwareImage.h"
#include "PathText.h"
#include "UnitFiles.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

constexpr uint32_t FlashBase = 0x10000000;

constexpr ChipLayoutRow MakeChip1Layout()
{
    ChipLayoutRow row;
    row.ChipId = 1;
    row.SectorCount = 19;
    for (uint32_t i = 0; i < 16; ++i) {
        row.Address[i] = FlashBase + i * 0x8000;
        row.Size[i] = i == 15 ? 0x4000 : 0x8000;
    }
    row.Address[16] = 0x1007C000;
    row.Size[16] = 0x1000;
    row.Address[17] = 0x1007D000;
    row.Size[17] = 0x1000;
    row.Address[18] = 0x1007E000;
    row.Size[18] = 0x2000;
    return row;
}

constexpr ChipLayoutRow MakeChip0Layout()
{
    ChipLayoutRow row;
    row.ChipId = 0;
    row.SectorCount = 19;
    row.Address[0] = 0x10000000;
    row.Size[0] = 0x2000;
    row.Address[1] = 0x10002000;
    row.Size[1] = 0x1000;
    row.Address[2] = 0x10003000;
    row.Size[2] = 0x1000;
    row.Address[3] = 0x10004000;
    row.Size[3] = 0x4000;
    for (uint32_t i = 4; i < 19; ++i) {
        row.Address[i] = 0x10008000 + (i - 4) * 0x8000;
        row.Size[i] = 0x8000;
    }
    return row;
}

std::atomic<bool> updateRunning{false};

// Holds the one-update-at-a-time flag for the length of a run.
class RunningScope {
public:
    RunningScope() : Acquired(!updateRunning.exchange(true)) {}
    ~RunningScope()
    {
        if (Acquired)
            updateRunning = false;
    }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
    bool Acquired;
};

std::string Hex8(uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

// One run of the procedure; the members are its working data.
class UpdateRun {
public:
    UpdateRun(QXDisplay& bootloader, HidHost& host, FirmwareUpdateUi& ui, const FirmwareUpdateOptions& options)
        : Boot(bootloader), Host(host), Ui(ui), Options(options)
    {
    }

    FirmwareUpdateResult Run()
    {
        if (!Boot.IsOpen())
            (void)Boot.OpenByIndex(0, 0); // a failed open shows up as a failed query
        // The whole update is one command: no other program talks to the bootloader meanwhile.
        UnitCommand command(Boot);
        if (command.Result != 0) {
            Ui.ShowMessage(UnitHoldFailure(Boot, command.Result));
            Ui.ShowProgressPanel(false);
            return {UpdateEnd::Failed, command.Result, 0};
        }
        Ui.SetFile("");
        Ui.SetStatus("Display Bootloader found.");
        Ui.ShowProgressPanel(true);
        Ui.Pump();

        DISPLAY_INFO info{};
        if (const uint32_t queried = Boot.GetBootInfo(info); queried != 0)
            return End(UpdateEnd::QueryFailed, queried, info.ChipId);
        const ChipLayoutRow* layout = FindChipLayout(info.ChipId);
        if (!layout) {
            Ui.SetStatus("Unknown ChipID. 0x" + Hex8(info.ChipId));
            return End(UpdateEnd::UnknownChip, 0, info.ChipId);
        }
        Ui.SetStatus("ChipID found.");

        ChooseImage();
        CheckImage(info.AddressUnit);
        if (Status == 0)
            CheckFit(*layout, info.AppStart);
        if (Status == 0)
            Erase(*layout, info.AppStart);
        if (Status == 0)
            Program(info.AddressUnit, info.AppStart);
        if (Status == 0 && !Interrupted && Options.Verify)
            Verify(info.AppStart);
        Image = {};

        if (Status != 0)
            return End(UpdateEnd::Failed, Status, info.ChipId);
        if (Interrupted)
            return End(SeenCancel && !SeenTerminating ? UpdateEnd::Cancelled : UpdateEnd::Interrupted, 0, info.ChipId);
        return End(UpdateEnd::Finished, 0, info.ChipId);
    }

private:
    void ChooseImage()
    {
        ImageFlags = 0x00;
        const std::optional<std::string> chosen = Ui.ChooseImageFile();
        Explanation = "No firmware image was chosen; nothing on the display was changed.";
        if (!chosen)
            return;
        Explanation = "The firmware image could not be read: choose a .bin image or a firmware package. Nothing "
                      "on the display was changed.";
        std::error_code ec;
        if (!std::filesystem::exists(PathFromUtf8(*chosen), ec))
            return;
        ImagePath = *chosen;
        if (!Ui.LoadImage(ImagePath, Image, ImageFlags)) {
            Image.clear();
            ImageFlags = 0x00;
        }
    }

    void CheckImage(uint32_t addressUnit)
    {
        // Lengths travel in 32 bits, so a larger image is no image.
        if (Image.empty() || Image.size() > UINT32_MAX) {
            Image.clear();
            Ui.SetStatus("bin buffer error");
            Status = ERR_BUFFER_UNDER;
            return;
        }
        Ui.SetStatus(Utf8FromPath(PathFromUtf8(ImagePath).filename()) + " loaded.");
        // An address unit of 0 cannot place any block; it is refused here,
        // before anything is erased.
        if (addressUnit == 0 || Image.size() % addressUnit != 0) {
            Ui.SetStatus("bin buffer alignment error.");
            Status = ERR_BUFFER_UNDER;
            Explanation = "The image's length is not a whole number of the display's address units (" +
                          std::to_string(addressUnit) +
                          " bytes), so it is not an image for this display. Nothing on the display was changed.";
            Image.clear();
        }
    }

    // The image must lie between AppStart and the layout's last sector, which
    // is never erased: anything beyond would land on flash that was not
    // erased, or outside the flash.
    void CheckFit(const ChipLayoutRow& layout, uint32_t appStart)
    {
        const uint32_t count = std::min<uint32_t>(layout.SectorCount, MaxLayoutSectors);
        const uint32_t end = count == 0 ? appStart : layout.Address[count - 1];
        const uint64_t room = end > appStart ? end - appStart : 0;
        if (Image.size() <= room)
            return;
        Ui.SetStatus("Image too large for the display's flash.");
        Status = ERR_BUFFER_UNDER;
        Explanation = "The image is " + std::to_string(Image.size()) + " bytes, but the display's flash holds " +
                      std::to_string(room) + " bytes from the firmware's start. Nothing was erased.";
        Image.clear();
    }

    // A failure of the unit during erasing, programming or verifying.
    void ExplainUnitFailure(const char* during)
    {
        const bool gone = !Boot.IsOpen() || Boot.LinkLost() || Status == ERR_WRITE_FAILED ||
                          Status == ERR_DEVICE_CLOSED || Status == ERR_PORT_FAILURE || Status == ERR_TIMEOUT;
        Explanation = gone ? std::string("The display went away or stopped answering during ") + during +
                                 ". It stays in its bootloader: plug it in again and run the update again."
                           : std::string("The display refused a step of ") + during +
                                 ". It stays in its bootloader: run the update again.";
    }

    void Erase(const ChipLayoutRow& layout, uint32_t appStart)
    {
        const uint32_t count = std::min<uint32_t>(layout.SectorCount, MaxLayoutSectors);
        uint32_t sectors = 0;
        for (uint32_t i = 0; i < count && !Stopping(); ++i)
            if (layout.Address[i] >= appStart)
                ++sectors;
        Ui.SetBars(0, sectors);
        const std::string erasing = "Erasing " + std::to_string(sectors) + " Program Sectors...";
        Ui.SetStatus(erasing);
        (void)Boot.ShowText(erasing.c_str());

        uint32_t done = 0;
        for (uint32_t i = 0; i < count && Status == 0 && !Stopping(); ++i) {
            if (layout.Address[i] >= appStart) {
                // The layout's last sector is counted but never erased.
                if (i + 1 != count) {
                    Ui.SetFile("Erasing sector " + std::to_string(i) + ".");
                    ++done;
                    Ui.SetBars(done, sectors);
                    FlashTouched = true;
                    Status = Boot.EraseSector(i, layout.Address[i]);
                }
                Ui.Pump();
            }
        }
        const char* outcome = Status == 0 ? "Program Sectors Erased." : "Error erasing program sectors.";
        Ui.SetStatus(outcome);
        (void)Boot.ShowText(outcome);
        if (Status != 0)
            ExplainUnitFailure("erasing");
    }

    void Program(uint32_t addressUnit, uint32_t appStart)
    {
        const auto length = static_cast<uint32_t>(Image.size());
        Ui.SetBars(0, length);
        const uint32_t start = Host.Ticks();
        Ui.SetStatus("Sending file to device...");

        uint32_t offset = 0;
        uint32_t block = ProgramBlockSize;
        int failures = 0;
        while (failures < MaxBlockAttempts && offset < length && !Stopping()) {
            if (block > length - offset)
                block = length - offset;
            const uint32_t address = offset / addressUnit + appStart;
            uint8_t flags = ImageFlags;
            if (offset == 0 && (ImageFlags & PackageImageBit) != 0)
                flags |= FirstPackageBlockFlag;
            Status = Boot.ProgramBlock(flags, address, block, Image.data() + offset);
            if (Status != 0) {
                ++failures;
                // Drop whatever a failed exchange left queued before the same block goes again.
                Boot.FlushReplies();
            } else {
                failures = 0;
                offset += block;
                Ui.SetBars(offset, length);
                const std::string progress = ProgressText(offset, length, Host.Ticks() - start);
                Ui.SetFile(progress);
                (void)Boot.ShowText(progress.c_str());
            }
            Ui.Pump();
        }
        if (Status == 0 && offset < length)
            Interrupted = true;
        if (Status != 0)
            ExplainUnitFailure("programming");
    }

    // Reads the programmed range back and compares it with the image. The
    // unit places image byte k at AppStart + k, whatever its address unit.
    void Verify(uint32_t appStart)
    {
        const auto length = static_cast<uint32_t>(Image.size());
        Ui.SetBars(0, length);
        Ui.SetStatus("Verifying the programmed image...");
        std::vector<uint8_t> back(VerifyBlockSize);
        Boot.StartTransfer(CMD_READ_BOOT_MEMORY);
        uint32_t offset = 0;
        while (offset < length && Status == 0 && !Stopping()) {
            const uint32_t block = std::min(VerifyBlockSize, length - offset);
            // A read has no side effect: one that got no reply is asked for once more.
            Status = Boot.ReadBootMemory(appStart + offset, block, back.data());
            if (Status == ERR_TIMEOUT && !Boot.LinkLost())
                Status = Boot.ReadBootMemory(appStart + offset, block, back.data());
            if (Status != 0)
                break;
            const auto differs = std::mismatch(back.begin(), back.begin() + block, Image.begin() + offset);
            if (differs.first != back.begin() + block) {
                Mismatch = appStart + offset + static_cast<uint32_t>(differs.first - back.begin());
                Status = ERR_VERIFY_ERR;
                break;
            }
            offset += block;
            Ui.SetBars(offset, length);
            const std::string progress = VerifyingText(offset, length);
            Ui.SetFile(progress);
            (void)Boot.ShowText(progress.c_str());
            Ui.Pump();
        }
        // Every reply read back answered its own request, or the comparison proves nothing.
        if (Status == 0 && offset == length)
            Status = Boot.ConfirmInStep();
        if (Status == ERR_VERIFY_ERR && Mismatch != 0) {
            Ui.SetStatus("Verification failed at 0x" + Hex8(Mismatch) + ".");
            Explanation = "The display holds other bytes than the image from address 0x" + Hex8(Mismatch) +
                          " on. It stays in its bootloader: run the update again.";
        } else if (Status != 0) {
            ExplainUnitFailure("verifying");
        } else if (offset < length) {
            Interrupted = true;
        } else {
            VerifiedAll = true;
        }
    }

    // The application closes, or the user cancelled: stop between steps.
    bool Stopping()
    {
        if (Ui.IsTerminating())
            SeenTerminating = true;
        if (Ui.IsCancelled())
            SeenCancel = true;
        return SeenTerminating || SeenCancel;
    }

    FirmwareUpdateResult End(UpdateEnd end, uint32_t code, uint32_t chipId)
    {
        FirmwareUpdateResult result{end, code, chipId};
        result.MismatchAddress = Mismatch;
        result.Verified = VerifiedAll;
        if (Status != 0) {
            // The code's name for those who know it, and what it means.
            Ui.ShowMessage(ResultCodeName(Status) + "\n\n" +
                           (Explanation.empty() ? std::string("The update did not complete: run it again.") : Explanation));
        } else if (!(Interrupted && FlashTouched)) {
            // Also after a failed query, an unknown chip or an interruption
            // before the first erase: the firmware is intact, so the unit may
            // go back to it. Once erasing has begun an unfinished (or
            // unverified) image is never handed over as if it were whole.
            if (const uint32_t sent = Boot.FinishUpdate(); sent != 0 && result.Code == 0)
                result.Code = sent;
            if (end == UpdateEnd::Finished && result.Code == 0) {
                const char* done = VerifiedAll ? UpdatedAndVerifiedText : UpdatedUnverifiedText;
                Ui.SetStatus(done);
                Ui.ShowMessage(done);
            } else if (end == UpdateEnd::Cancelled) {
                Ui.ShowMessage("Update cancelled before anything was erased: the display keeps its firmware.");
            }
        } else if (end == UpdateEnd::Cancelled) {
            Ui.ShowMessage("Update cancelled. The display stays in its bootloader: run the update again to give it "
                           "a firmware.");
        }
        Ui.ShowProgressPanel(false);
        return result;
    }

    QXDisplay& Boot;
    HidHost& Host;
    FirmwareUpdateUi& Ui;

    uint32_t Status = 0;
    std::string ImagePath;
    std::vector<uint8_t> Image;
    uint8_t ImageFlags = 0x00;
    bool SeenTerminating = false;
    bool SeenCancel = false;
    FirmwareUpdateOptions Options;
    std::string Explanation; // what a failing status means and what to do
    uint32_t Mismatch = 0;
    bool VerifiedAll = false;
    bool FlashTouched = false; // an erase was sent
    bool Interrupted = false;
};

} // namespace

const std::array<ChipLayoutRow, 2> CHIP_LAYOUTS = {MakeChip1Layout(), MakeChip0Layout()};

const ChipLayoutRow* FindChipLayout(uint32_t chipId)
{
    for (const ChipLayoutRow& row : CHIP_LAYOUTS)
        if (row.ChipId == chipId)
            return &row;
    return nullptr;
}

bool FirmwareUpdateRunning() { return updateRunning.load(); }

std::string VerifyingText(uint32_t done, uint32_t total)
{
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / total;
    return "Verifying: " + std::to_string(std::lround(fraction * 100.0)) + "%";
}

std::string ProgressText(uint32_t done, uint32_t total, uint32_t elapsedMs)
{
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / total;
    const double secondsLeft = fraction <= 0.0 ? 0.0 : (1.0 - fraction) / fraction * elapsedMs / 1000.0;
    return "Progress: " + std::to_string(std::lround(fraction * 100.0)) + "%" +
           " Time Left: " + std::to_string(std::lround(secondsLeft)) + "s";
}

bool FirmwareUpdateUi::LoadImage(const std::string& path, std::vector<uint8_t>& image, uint8_t& imageFlags)
{
    FirmwareImage loaded;
    if (const uint32_t result = LoadFirmwareImage(PathFromUtf8(path), loaded); result != 0) {
        ImageNotLoaded(path, result);
        return false;
    }
    image = std::move(loaded.Bytes);
    imageFlags = loaded.Flags;
    return true;
}

FirmwareUpdateResult RunFirmwareUpdate(QXDisplay* bootloader, HidHost& host, FirmwareUpdateUi& ui,
                                       const FirmwareUpdateOptions& options)
{
    RunningScope running;
    if (!running.Acquired || (bootloader && bootloader->IsBusy()))
        return {UpdateEnd::AlreadyRunning, ERR_DEVICE_IN_USE, 0};
    if (!bootloader) {
        ui.ShowMessage("Display bootloader not found on the USB bus.");
        ui.ShowProgressPanel(false);
        return {UpdateEnd::NoBootloader, ERR_NO_PATH, 0};
    }
    return UpdateRun(*bootloader, host, ui, options).Run();
}
