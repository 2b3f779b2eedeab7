#pragma once
// The display unit's behaviour at the level of HID reports: it assembles the
// request stream from output reports, runs the command of its current mode
// (normal firmware or bootloader) against its flash and its SD card, and
// answers with framed input reports. Not thread-safe: SimHost guards it.
//
// Choices the unit makes where the tool does not care:
// - A request whose checksum does not match is answered with the status
//   StatusBadChecksum; a code the current mode does not know gets no answer.
// - Status replies, info replies and memory reads end with the unit's own
//   checksum byte (the "one byte longer" of fixed-size replies).
// - Directory entries and block-read replies start with 0xFF; files carry the
//   attribute 0x20, folders 0x10; the listing ends with a 5-byte entry (the
//   no-more-files byte, three zero bytes, checksum). A folder that is not
//   there, or a card that fails, refuses the listing with a 2-byte status.
// - A half-received request is forgotten when no report follows within
//   100 ms, so one lost output report does not spoil the next request.
// - Programming: address A (in address units) lands at byte
//   AppStart + (A - AppStart) * AddressUnit; only bytes that are all 0xFF can
//   be programmed; with AddressUnit 0 every block is refused.
// - Erasing: only sectors of the chip's layout that start at AppStart or
//   above, named by matching index and start address.
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "SimCard.h"
#include "FaultPlan.h"
#include "UnitWire.h"

namespace sim {

enum class UnitMode { Normal, Bootloader };

struct UnitSettings {
    uint16_t VendorId = TESSALY_VENDOR_ID;
    uint32_t FirmwareVersion = 0x01020300;
    uint32_t BootloaderVersion = 0x01000000;
    uint32_t ChipId = 1;
    uint32_t AddressUnit = 1;
    uint32_t AppStart = 0x10008000;
    std::string SerialNumber = "QX-SIM-000123";
    std::array<uint8_t, 8> DeviceKey = {0x51, 0x58, 0x2D, 0x53, 0x49, 0x4D, 0x4B, 0x31};
    // Folder on disk that holds the SD card (Maps/ and Logs/ are created).
    std::filesystem::path CardFolder;
    // Largest block the unit sends for one read; a larger wish gets this many bytes.
    uint32_t MaxReadBlock = 4096;
    // Time the unit works on one sector erase before it answers.
    uint32_t EraseMs = 0;
};

struct ProgramRecord {
    uint8_t Flags = 0;
    uint32_t Address = 0;
    uint32_t Length = 0;
};

struct EraseRecord {
    uint32_t Sector = 0;
    uint32_t Address = 0;
};

// What one output report made the unit do.
struct UnitAnswer {
    std::vector<std::array<uint8_t, UnitReportLength>> Reports; // input reports, in order
    uint32_t BusyMs = 0;   // the unit works this long before the first report leaves
    bool Finished = false; // end of an update: leave the bus, return in normal mode
};

struct SectorLayout {
    uint32_t Start = 0;
    uint32_t Size = 0;
};

// The flash layout of a chip id, empty for an unknown chip.
std::vector<SectorLayout> ChipLayout(uint32_t chipId);

class SimulatedUnit {
public:
    explicit SimulatedUnit(UnitSettings settings);

    // Power-up in `mode`: a half-received request and a listing under way are forgotten.
    void PowerUp(UnitMode mode);
    UnitMode Mode() const { return CurrentMode; }

    // One output report as the unit receives it at link time `atMs`.
    UnitAnswer ReceiveReport(const uint8_t* report, size_t length, uint64_t atMs);
    // One whole request message.
    UnitAnswer Execute(uint16_t code, const std::vector<uint8_t>& payload);
    // Another program's request with `code`: the last one of that code the
    // unit received, run once more (none received: one without payload).
    UnitAnswer ExecuteAgain(uint16_t code);
    // The input reports that carry one reply message.
    static std::vector<std::array<uint8_t, UnitReportLength>> FrameReply(uint16_t code,
                                                                         const std::vector<uint8_t>& payload);

    void SetStatusFaults(std::vector<StatusFault> faults);
    // Blocks programmed from now on that land in flash with a byte inverted.
    void SetFlashFaults(std::vector<FlashFault> faults);

    const UnitSettings& Settings() const { return Config; }
    // Writes the identity block of the settings into flash at AppStart - 2048.
    void WriteIdentity();
    void SetChip(uint32_t chipId, uint32_t addressUnit, uint32_t appStart);

    SimCard& Card() { return SdCard; }
    std::vector<uint8_t>& Flash() { return FlashBytes; }
    const std::string& ScreenText() const { return Screen; }
    const std::vector<std::string>& ScreenHistory() const { return Texts; }
    const std::vector<ProgramRecord>& ProgramLog() const { return Programs; }
    const std::vector<EraseRecord>& EraseLog() const { return Erases; }
    void ClearLogs();

private:
    struct Outcome {
        bool Answer = true;
        std::vector<uint8_t> Payload;
    };
    Outcome Run(uint16_t code, const std::vector<uint8_t>& payload, UnitAnswer& answer);
    Outcome Info() const;
    Outcome Memory(WireReader& in) const;
    Outcome FindFirst(WireReader& in);
    Outcome NextEntry();
    Outcome WriteBlock(WireReader& in);
    Outcome ReadBlock(WireReader& in);
    Outcome Remove(WireReader& in);
    Outcome Program(WireReader& in);
    Outcome Erase(WireReader& in, UnitAnswer& answer);
    Outcome ShowText(WireReader& in);

    UnitSettings Config;
    SimCard SdCard;
    UnitMode CurrentMode = UnitMode::Normal;
    std::vector<uint8_t> FlashBytes;

    std::vector<uint8_t> Stream; // request stream being assembled
    bool Assembling = false;
    uint64_t LastReportMs = 0;

    std::vector<CardEntry> Listing;
    size_t ListingNext = 0;

    std::vector<StatusFault> StatusFaults;
    std::map<uint16_t, uint64_t> CodeCounts; // requests seen per code, for status=C:S@K
    std::map<uint16_t, std::vector<uint8_t>> LastPayloads; // per code, for ExecuteAgain
    std::vector<FlashFault> FlashFaults;
    uint64_t ProgrammedSinceFaults = 0;

    std::string Screen;
    std::vector<std::string> Texts;
    std::vector<ProgramRecord> Programs;
    std::vector<EraseRecord> Erases;
};

} // namespace sim
