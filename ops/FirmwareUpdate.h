#pragma once
// Replacing the unit's firmware through its bootloader: query the flash layout
// and the firmware's start address, choose and check an image, erase the
// firmware's sectors, send the image in 3072-byte blocks with a progress and
// time-left display, and tell the bootloader that the update is over.
//
// The procedure is written once for every front end: the window and the
// command-line companion each implement FirmwareUpdateUi. It runs on the
// caller's thread and calls Pump() between steps so a window stays live.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HidHost.h"
#include "Qxdisplay.h"

constexpr uint32_t ProgramBlockSize = 3072;
// Bytes read back per request when verifying, as many as a program block: the
// reply takes 53 input reports, within the 64 unread reports a hidraw reader
// is allowed (a longer reply could lose its tail to a reader held up for a
// moment), and few requests keep the pass close to the link's limit.
constexpr uint32_t VerifyBlockSize = 3072;
constexpr int MaxBlockAttempts = 5;    // failed attempts in a row before a block is given up
constexpr size_t MaxLayoutSectors = 32;
// Added to a package image's flags on its first block.
constexpr uint8_t FirstPackageBlockFlag = 0x40;
// Flags bit that marks an image taken from a firmware package.
constexpr uint8_t PackageImageBit = 0x80;

struct ChipLayoutRow {
    uint32_t ChipId = 0;
    uint32_t SectorCount = 0;
    std::array<uint32_t, MaxLayoutSectors> Address = {};
    std::array<uint32_t, MaxLayoutSectors> Size = {};
};

// The flash layouts the procedure knows, searched in this order.
extern const std::array<ChipLayoutRow, 2> CHIP_LAYOUTS;

// The row for `chipId`, or null.
const ChipLayoutRow* FindChipLayout(uint32_t chipId);

// What a front end shows and asks for. Every call comes from the thread that
// runs the update.
class FirmwareUpdateUi {
public:
    virtual ~FirmwareUpdateUi() = default;
    virtual void SetStatus(const std::string& text) = 0; // the status line
    virtual void SetFile(const std::string& text) = 0;   // the line under it (sector, progress)
    virtual void ShowProgressPanel(bool visible) = 0;
    // Both progress bars.
    virtual void SetBars(uint32_t position, uint32_t maximum) = 0;
    // Lets the front end process what is pending (a window's messages).
    virtual void Pump() = 0;
    // True once the application has been asked to close.
    virtual bool IsTerminating() = 0;
    // True once the user asked to stop the update (a Cancel button).
    virtual bool IsCancelled() { return false; }
    // The image file the user picked (a window opens its file dialog in the
    // executable's folder on the firmware-package filter), or none when cancelled.
    virtual std::optional<std::string> ChooseImageFile() = 0;
    // Loads a plain image or a package's image with its ImageFlags; false
    // when there is no image. Loads it with LoadFirmwareImage and tells
    // ImageNotLoaded why not.
    virtual bool LoadImage(const std::string& path, std::vector<uint8_t>& image, uint8_t& imageFlags);
    // The image file could not be loaded: `code` says why (the update itself
    // goes on to report that there is no image).
    virtual void ImageNotLoaded(const std::string& path, uint32_t code)
    {
        (void)path;
        (void)code;
    }
    // A message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
};

enum class UpdateEnd {
    AlreadyRunning, // another update runs (or the bootloader object is busy): nothing was done
    NoBootloader,   // no bootloader object: nothing was sent
    QueryFailed,    // the bootloader did not tell its layout; the end of the update was sent
    UnknownChip,    // the chip id is not in CHIP_LAYOUTS; the end of the update was sent
    Failed,         // a failing status, shown to the user; the unit stays in its bootloader
    Interrupted,    // the application closed before the image was complete; once erasing
                    // has begun the unit is left in its bootloader rather than told to run
                    // a partial image, before that it is sent back to its firmware
    Cancelled,      // the user stopped it between steps; once erasing has begun the unit stays
                    // in its bootloader, before that it is sent back to its firmware
    Finished,       // the whole image was programmed (and verified, unless that was skipped)
                    // and the end of the update was sent
};

struct FirmwareUpdateOptions {
    // Read the programmed range back and compare it with the image before
    // the end of the update is sent.
    bool Verify = true;
};

struct FirmwareUpdateResult {
    UpdateEnd End = UpdateEnd::Failed;
    // Failed: the status shown; QueryFailed: the query's code; Finished,
    // QueryFailed and UnknownChip also carry a failed send of the end of the
    // update here; AlreadyRunning: ERR_DEVICE_IN_USE; NoBootloader: ERR_NO_PATH.
    uint32_t Code = 0;
    uint32_t ChipId = 0; // as the bootloader reported it
    // Failed by verification: the first address whose byte differs from the image.
    uint32_t MismatchAddress = 0;
    bool Verified = false; // Finished after reading the whole image back

    bool Succeeded() const { return End == UpdateEnd::Finished && Code == 0; }
};

// Runs the whole update on `bootloader` (a QXDisplay found with
// FindBootDevices; null when there is none). `host` is the bootloader's host,
// whose tick counter times the programming for the time-left estimate.
//
// Only one update runs at a time: a call made while one runs (say from a
// handler that Pump() let through) returns AlreadyRunning at once. The caller
// must keep `bootloader` alive until the call returns, also when a monitor
// tick inside Pump() finds the unit gone: FirmwareUpdateRunning() says when.
[[nodiscard]] FirmwareUpdateResult RunFirmwareUpdate(QXDisplay* bootloader, HidHost& host, FirmwareUpdateUi& ui,
                                                     const FirmwareUpdateOptions& options = {});

// The end of a successful update, as the status line, the box and tessaly-cli say it.
constexpr const char* UpdatedAndVerifiedText = "Firmware updated and verified.";
constexpr const char* UpdatedUnverifiedText = "Firmware updated; it was not read back.";

// True while RunFirmwareUpdate runs.
bool FirmwareUpdateRunning();

// "Progress: 45% Time Left: 13s" after `done` of `total` bytes in `elapsedMs`.
std::string ProgressText(uint32_t done, uint32_t total, uint32_t elapsedMs);
// "Verifying: 45%".
std::string VerifyingText(uint32_t done, uint32_t total);
