#pragma once
// The display unit's command set on top of the HID transport: identity and
// memory reads, the SD card's files (normal firmware, product id 0x0801) and
// erase / program / status text / end of update (bootloader, product id 0x0800).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HIDDeviceEx.h"
#include "UnitLock.h"

constexpr uint16_t NormalProductId = 0x0801;
constexpr uint16_t BootProductId = 0x0800;

// Command codes.
constexpr uint16_t CMD_GET_DEVICE_INFO = 0x4000;
constexpr uint16_t CMD_READ_DEVICE_MEMORY = 0x4001;
constexpr uint16_t CMD_FILE_FIND_FIRST = 0x4010;
constexpr uint16_t CMD_FILE_FIND_NEXT = 0x4011;
constexpr uint16_t CMD_WRITE_FILE_BLOCK = 0x4012;
constexpr uint16_t CMD_READ_FILE_BLOCK = 0x4013;
constexpr uint16_t CMD_REMOVE_FILE = 0x4014;
constexpr uint16_t CMD_GET_BOOT_INFO = 0x6000;
constexpr uint16_t CMD_READ_BOOT_MEMORY = 0x6001;
constexpr uint16_t CMD_PROGRAM_BLOCK = 0x6002;
constexpr uint16_t CMD_ERASE_SECTOR = 0x6003;
constexpr uint16_t CMD_FINISH_UPDATE = 0x6004;
constexpr uint16_t CMD_SHOW_TEXT = 0x6005;

constexpr uint32_t IdentityOffset = 2048; // identity block lies this far below AppStart
constexpr uint32_t IdentityLength = 40;
constexpr uint32_t FileBlockSize = 1024;
constexpr uint8_t WriteBlockFlag = 0x40;
constexpr uint8_t RemoveFlag = 0x00;
constexpr uint8_t FolderAttribute = 0x10;
constexpr uint32_t InfoReplyLength = 53;
constexpr size_t DisplayInfoSize = 52;
constexpr size_t FileEntryHeaderSize = 6;
// Payload of the unit's end-of-listing entry (a 5-byte reply to FileFindFirst
// or FileFindNext): the only reply that ends a listing as complete.
constexpr size_t EndOfListingSize = 5;
// How long the request that brings the link back in step waits for its reply.
// A late reply is one that missed its own wait (at most about a second), so
// this covers it with room; the barrier is tried twice before the unit counts
// as gone for the rest of the command.
constexpr uint32_t BarrierWaitMs = 1000;
constexpr int BarrierAttempts = 2;
// GetFile counts the replies against its requests after this many blocks too.
constexpr uint32_t CheckEveryBlocks = 16;

struct DISPLAY_INFO {
    uint32_t FirmwareVersion = 0;
    uint32_t ChipId = 0;
    uint8_t Reserved1[16] = {};
    uint32_t AddressUnit = 0;
    uint32_t AppStart = 0;
    uint8_t Reserved2[20] = {};

    // Decodes the 52-byte little-endian layout.
    static DISPLAY_INFO FromBytes(const uint8_t* bytes);
    void ToBytes(uint8_t* bytes) const;
};

struct DISPLAY_IDENTITY {
    char SerialNumber[24] = {};
    uint8_t DeviceKey[8] = {};
    uint32_t BootloaderVersion = 0;
    uint8_t Reserved[4] = {};

    static DISPLAY_IDENTITY FromBytes(const uint8_t* bytes);
    void ToBytes(uint8_t* bytes) const;
    // Serial number text, never read past its 24-byte field.
    std::string Serial() const;
};

// A directory entry as the unit sends it: the reply payload, owned.
struct FILE_ENTRY {
    std::vector<uint8_t> Bytes; // at least 6

    uint8_t Attributes() const { return Bytes[1]; }
    uint32_t Size() const;
    bool IsFolder() const { return (Attributes() & FolderAttribute) != 0; }
    // Name up to its NUL, or to the payload's end when the unit sent none.
    std::string Name() const;
};

using EntryCallback = void (*)(const char* folder, const FILE_ENTRY& entry);
using ProgressCallback = void (*)(const char* folder, const char* name, uint32_t total, uint32_t done);

class RequestPayload;

// Takes the blocks of a file as they arrive, in order. A non-zero result
// stops the transfer with that code.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    [[nodiscard]] virtual uint32_t Write(const uint8_t* data, uint32_t length) = 0;
};

class QXDisplay : public HIDDeviceEx {
public:
    explicit QXDisplay(HidHost& host);

    void FindDevices() override;
    void FindBootDevices();

    [[nodiscard]] uint32_t GetDeviceInfo(DISPLAY_INFO& info);
    [[nodiscard]] uint32_t GetBootInfo(DISPLAY_INFO& info);
    [[nodiscard]] uint32_t ReadDeviceMemory(uint32_t address, uint32_t length, uint8_t* buffer);
    [[nodiscard]] uint32_t ReadBootMemory(uint32_t address, uint32_t length, uint8_t* buffer);
    [[nodiscard]] uint32_t ReadDeviceIdentity(uint32_t appStart, DISPLAY_IDENTITY& identity);
    [[nodiscard]] uint32_t ReadBootIdentity(uint32_t appStart, DISPLAY_IDENTITY& identity);

    std::unique_ptr<FILE_ENTRY> FileFindFirst(const char* folder, const char* pattern);
    std::unique_ptr<FILE_ENTRY> FileFindNext();
    uint32_t ListFiles(const char* folder, const char* pattern, EntryCallback callback);

    [[nodiscard]] uint32_t ReadFileBlock(const char* folder, const char* name, uint32_t offset, uint32_t& length,
                                         uint8_t* buffer);
    [[nodiscard]] uint32_t WriteFileBlock(const char* folder, const char* name, uint32_t offset, uint32_t length,
                                          const uint8_t* data);
    [[nodiscard]] uint32_t GetFile(const char* folder, const char* name, uint32_t total, uint8_t* buffer,
                                   ProgressCallback callback);
    // The same, each block handed to `sink` as it arrives.
    [[nodiscard]] uint32_t GetFile(const char* folder, const char* name, uint32_t total, BlockSink& sink,
                                   ProgressCallback callback);
    [[nodiscard]] uint32_t PutFile(const char* folder, const char* name, uint32_t total, const uint8_t* data,
                                   ProgressCallback callback);
    [[nodiscard]] uint32_t RemoveFile(const char* folder, const char* name);
    [[nodiscard]] uint32_t ProbeFile(const char* folder, const char* name);

    [[nodiscard]] uint32_t ProgramBlock(uint8_t imageFlags, uint32_t address, uint32_t length, const uint8_t* data);
    [[nodiscard]] uint32_t EraseSector(uint32_t sectorIndex, uint32_t sectorAddress);
    [[nodiscard]] uint32_t FinishUpdate();
    [[nodiscard]] uint32_t ShowText(const char* text);

    // True while one of the operations above runs (also while its callback
    // pumps the caller's events): the owner must not destroy the object then,
    // and a second operation started from such a callback is refused with
    // ERR_DEVICE_IN_USE.
    bool IsBusy() const { return BusyDepth != 0; }

    // A command: one or more operations that belong together (a listing, the
    // files of one get). It holds the unit's lock against other programs
    // (UnitLock.h) while it runs; an operation started outside a command
    // holds it for its own duration. Commands nest. ERR_DEVICE_IN_USE when
    // another program holds the unit for longer than waitMs.
    [[nodiscard]] uint32_t BeginCommand(uint32_t waitMs = UnitLockWaitMs);
    void EndCommand();
    // The unit did not answer the request that brings the link back in step:
    // it counts as gone until the command ends, and every request fails at
    // once with the code LostCode() tells.
    bool LinkLost() const { return Lost; }
    uint32_t LostCode() const { return LostResult; }
    // 0 when the last listing ended on the unit's end-of-listing entry (a
    // payload of exactly 5 bytes); StatusOffset + status when the unit refused
    // it with a status reply (2 to 4 bytes); ERR_READ_FAILED for a payload of 0
    // or 1 byte (the link is then out of step); else why it was cut short
    // (time-out, failed send, unit gone, link lost, cancelled).
    uint32_t ListingEnd() const { return ListingResult; }
    // Why the unit's lock could not be made, when a command failed with ERR_UNIT_LOCK.
    const std::string& LockFailureText() const { return LockFailure; }

    // A series of requests with one code (file blocks, memory reads) runs from
    // StartTransfer to ConfirmInStep. The unit answers every request once, so
    // ConfirmInStep counts the replies with that code (taken, or discarded on
    // the way) against the requests sent: one more reply than requests means
    // that a reply taken answered another request (a duplicated request,
    // another program's): ERR_VERIFY_ERR. A run of input reports the reader
    // could not place counts as one reply (its first report was lost), and an
    // input report that the reader could not place since the transfer's last
    // reply was checked fails it too. GetFile, PutFile, RemoveFile and
    // ListFiles do both.
    void StartTransfer(uint16_t code);
    [[nodiscard]] uint32_t ConfirmInStep();
    // The same count in the middle of a transfer, which goes on.
    [[nodiscard]] uint32_t CheckTransfer();

    // Asked between two blocks of GetFile and PutFile and between two entries
    // of a listing (after the progress callback, which may let the user ask):
    // once it answers true the operation stops with ERR_CANCELLED. A send
    // stopped that way removes the part it wrote, so no truncated file stays
    // on the card. Empty: never stopped.
    void SetCancelCheck(std::function<bool()> check) { CancelCheck = std::move(check); }

private:
    friend class OperationScope;
    [[nodiscard]] uint32_t HoldUnit();
    // Sends the request that cannot be mistaken for another one's reply
    // (device or boot information) and waits for its reply, discarding what
    // arrives before it; `strays` grows by the discarded replies with `watchCode`.
    [[nodiscard]] uint32_t Barrier(bool boot, uint32_t watchCode, uint32_t& strays);
    // After a wait that ended without its own reply: the barrier, tried twice.
    [[nodiscard]] uint32_t BringInStep(bool boot);
    // A block read's result in the light of the input reports the reader could
    // not place meanwhile: as it was, ERR_READ_FAILED (ask the block again) or
    // ERR_VERIFY_ERR (a block already handed on is suspect). `barriers` is
    // InStepCount before the read.
    [[nodiscard]] uint32_t JudgeUnplaced(uint32_t result, uint32_t barriers, bool blockHandedOn);

    [[nodiscard]] uint32_t Send(uint16_t code, const std::vector<uint8_t>& payload);
    [[nodiscard]] uint32_t SendAndWaitStatus(uint16_t code, RequestPayload& payload, uint32_t timeoutMs);
    [[nodiscard]] uint32_t ReadMemory(uint16_t code, uint32_t address, uint32_t length, uint8_t* buffer);
    [[nodiscard]] uint32_t GetInfo(uint16_t code, DISPLAY_INFO& info);
    [[nodiscard]] uint32_t ReadIdentity(uint16_t code, uint32_t appStart, DISPLAY_IDENTITY& identity);
    std::unique_ptr<FILE_ENTRY> NextEntry(uint16_t code, const std::vector<uint8_t>& payload);
    std::unique_ptr<FILE_ENTRY> FindFirstUnguarded(const char* folder, const char* pattern);
    [[nodiscard]] uint32_t ReadFileBlockUnguarded(const char* folder, const char* name, uint32_t offset,
                                                  uint32_t& length, uint8_t* buffer);
    [[nodiscard]] uint32_t WriteFileBlockUnguarded(const char* folder, const char* name, uint32_t offset,
                                                   uint32_t length, const uint8_t* data);
    [[nodiscard]] uint32_t RemoveFileUnguarded(const char* folder, const char* name);

    int BusyDepth = 0;
    int CommandDepth = 0;
    uint32_t CommandWaitMs = UnitLockWaitMs;
    std::unique_ptr<UnitLock> Held;
    bool Lost = false;
    uint32_t LostResult = 0;
    // The transfer under way: requests sent with its code, and replies with
    // its code discarded (TransferTaken counts those taken).
    uint32_t TransferSent = 0;
    uint32_t TransferDiscarded = 0;
    // UnplacedReports() when the transfer's last reply was checked.
    uint32_t TransferUnplaced = 0;
    // UnplacedRuns() when the transfer started.
    uint32_t TransferRuns = 0;
    // Times the link was brought back in step, and UnplacedReports() then.
    uint32_t InStepCount = 0;
    uint32_t InStepUnplaced = 0;
    uint32_t ListingResult = 0;
    std::function<bool()> CancelCheck;
    std::string LockFailure;

    bool CancelAsked() const { return CancelCheck && CancelCheck(); }
};

// Holds a command on a display for the scope's lifetime.
class UnitCommand {
public:
    explicit UnitCommand(QXDisplay& display, uint32_t waitMs = UnitLockWaitMs)
        : Display(display), Result(display.BeginCommand(waitMs))
    {
    }
    ~UnitCommand()
    {
        if (Result == 0)
            Display.EndCommand();
    }
    UnitCommand(const UnitCommand&) = delete;
    UnitCommand& operator=(const UnitCommand&) = delete;

    QXDisplay& Display;
    const uint32_t Result; // 0, or ERR_DEVICE_IN_USE when another program holds the unit
};
