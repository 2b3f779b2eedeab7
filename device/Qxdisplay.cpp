#include "Qxdisplay.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"

namespace {

constexpr uint32_t InfoWaitMs = 100;
constexpr uint32_t EntryWaitMs = 1000;
constexpr uint32_t BlockWaitMs = 1000;
constexpr uint32_t WriteBlockWaitMs = 1000;
constexpr uint32_t RemoveWaitMs = 250;
constexpr uint32_t ProgramWaitMs = 1000;
constexpr uint32_t EraseWaitMs = 2000;
constexpr uint32_t ShowTextWaitMs = 200;
// The total length of a message (payload + 4) travels in 16 bits.
constexpr size_t MaxPayload = 0xFFFF - 4;

} // namespace

// Builds a request payload; Finish() appends the checksum.
class RequestPayload {
public:
    RequestPayload& Text(const char* text)
    {
        if (text == nullptr) {
            Valid = false;
            return *this;
        }
        const size_t length = std::strlen(text);
        if (length > MaxPayload) {
            Valid = false;
            return *this;
        }
        Bytes.insert(Bytes.end(), text, text + length);
        Bytes.push_back(0);
        return *this;
    }
    RequestPayload& U8(uint8_t value)
    {
        Bytes.push_back(value);
        return *this;
    }
    RequestPayload& U32(uint32_t value)
    {
        AppendLE32(Bytes, value);
        return *this;
    }
    RequestPayload& Raw(const uint8_t* data, size_t length)
    {
        if (length > MaxPayload || (data == nullptr && length != 0)) {
            Valid = false;
            return *this;
        }
        if (length != 0)
            Bytes.insert(Bytes.end(), data, data + length);
        return *this;
    }
    // False when a text is missing or the message would not fit its 16-bit length.
    bool Finish()
    {
        if (!Valid || Bytes.size() + 1 > MaxPayload)
            return false;
        Bytes.push_back(Checksum(Bytes.data(), Bytes.size()));
        return true;
    }
    std::vector<uint8_t> Bytes;

private:
    bool Valid = true;
};

// One public operation: refused while another runs (a callback of it may
// pump events), marks the display busy, and holds the unit for its own
// duration when no command does.
class OperationScope {
public:
    explicit OperationScope(QXDisplay& display) : Display(display)
    {
        if (Display.IsBusy()) {
            Result = ERR_DEVICE_IN_USE;
            return;
        }
        ++Display.BusyDepth;
        Busy = true;
        if (Display.CommandDepth == 0) {
            Result = Display.BeginCommand(UnitLockWaitMs);
            Began = Result == 0;
        } else {
            // The command may have begun before the unit was open.
            Result = Display.HoldUnit();
        }
    }
    ~OperationScope()
    {
        if (Began)
            Display.EndCommand();
        if (Busy)
            --Display.BusyDepth;
    }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

    uint32_t Result = 0;

private:
    QXDisplay& Display;
    bool Busy = false;
    bool Began = false;
};

namespace {

bool IsBootCode(uint16_t code) { return (code & 0xF000) == 0x6000; }

} // namespace

DISPLAY_INFO DISPLAY_INFO::FromBytes(const uint8_t* bytes)
{
    DISPLAY_INFO info;
    info.FirmwareVersion = GetLE32(bytes);
    info.ChipId = GetLE32(bytes + 4);
    std::memcpy(info.Reserved1, bytes + 8, sizeof info.Reserved1);
    info.AddressUnit = GetLE32(bytes + 24);
    info.AppStart = GetLE32(bytes + 28);
    std::memcpy(info.Reserved2, bytes + 32, sizeof info.Reserved2);
    return info;
}

void DISPLAY_INFO::ToBytes(uint8_t* bytes) const
{
    SetLE32(bytes, FirmwareVersion);
    SetLE32(bytes + 4, ChipId);
    std::memcpy(bytes + 8, Reserved1, sizeof Reserved1);
    SetLE32(bytes + 24, AddressUnit);
    SetLE32(bytes + 28, AppStart);
    std::memcpy(bytes + 32, Reserved2, sizeof Reserved2);
}

DISPLAY_IDENTITY DISPLAY_IDENTITY::FromBytes(const uint8_t* bytes)
{
    DISPLAY_IDENTITY identity;
    std::memcpy(identity.SerialNumber, bytes, sizeof identity.SerialNumber);
    std::memcpy(identity.DeviceKey, bytes + 24, sizeof identity.DeviceKey);
    identity.BootloaderVersion = GetLE32(bytes + 32);
    std::memcpy(identity.Reserved, bytes + 36, sizeof identity.Reserved);
    return identity;
}

void DISPLAY_IDENTITY::ToBytes(uint8_t* bytes) const
{
    std::memcpy(bytes, SerialNumber, sizeof SerialNumber);
    std::memcpy(bytes + 24, DeviceKey, sizeof DeviceKey);
    SetLE32(bytes + 32, BootloaderVersion);
    std::memcpy(bytes + 36, Reserved, sizeof Reserved);
}

std::string DISPLAY_IDENTITY::Serial() const
{
    const char* end = std::find(SerialNumber, SerialNumber + sizeof SerialNumber, '\0');
    return std::string(SerialNumber, end);
}

uint32_t FILE_ENTRY::Size() const { return GetLE32(Bytes.data() + 2); }

std::string FILE_ENTRY::Name() const
{
    const auto begin = Bytes.begin() + FileEntryHeaderSize;
    return std::string(begin, std::find(begin, Bytes.end(), uint8_t{0}));
}

QXDisplay::QXDisplay(HidHost& host) : HIDDeviceEx(host)
{
    FramedInput = true;
    // Every reply the unit sends, with the largest total it can have: a status
    // (2 bytes) for writes, removals and the bootloader's steps, the 53-byte
    // information, up to a block (or a name of any FAT length) for listings.
    // Memory and block reads can be as long as the caller asks.
    constexpr uint16_t StatusTotal = 4 + 5;
    constexpr uint16_t InfoTotal = 4 + InfoReplyLength;
    constexpr uint16_t EntryTotal = 4 + FileEntryHeaderSize + FileBlockSize;
    KnownReplies = {{CMD_GET_DEVICE_INFO, InfoTotal}, {CMD_READ_DEVICE_MEMORY, 0xFFFF},
                    {CMD_FILE_FIND_FIRST, EntryTotal}, {CMD_FILE_FIND_NEXT, EntryTotal},
                    {CMD_WRITE_FILE_BLOCK, StatusTotal}, {CMD_READ_FILE_BLOCK, 0xFFFF},
                    {CMD_REMOVE_FILE, StatusTotal}, {CMD_GET_BOOT_INFO, InfoTotal},
                    {CMD_READ_BOOT_MEMORY, 0xFFFF}, {CMD_PROGRAM_BLOCK, StatusTotal},
                    {CMD_ERASE_SECTOR, StatusTotal}, {CMD_SHOW_TEXT, StatusTotal}};
}

void QXDisplay::FindDevices() { FindDevicesById(NormalProductId); }

void QXDisplay::FindBootDevices() { FindDevicesById(BootProductId); }

uint32_t QXDisplay::BeginCommand(uint32_t waitMs)
{
    if (CommandDepth++ == 0) {
        Lost = false;
        LostResult = 0;
        CommandWaitMs = waitMs;
    }
    const uint32_t held = HoldUnit();
    if (held != 0)
        EndCommand();
    return held;
}

void QXDisplay::EndCommand()
{
    if (CommandDepth > 0 && --CommandDepth == 0)
        Held.reset();
}

uint32_t QXDisplay::HoldUnit()
{
    if (Held || !IsOpen())
        return 0;
    UnitLockAttempt attempt = Host.LockUnit(OpenPath(), CommandWaitMs);
    LockFailure = attempt.Failure;
    if (!attempt.Lock)
        return attempt.Result();
    Held = std::move(attempt.Lock);
    // Replies to the requests of a program that died mid-command may still come.
    if (attempt.PreviousUnfinished)
        OutOfStep = true;
    return 0;
}

namespace {

uint32_t WriteRequest(HIDDeviceEx& device, uint16_t code, const std::vector<uint8_t>& payload)
{
    HID_COMMAND request;
    request.Magic = FrameMarker;
    request.Code = code;
    request.Data = payload;
    request.Length = static_cast<uint32_t>(payload.size());
    return device.WriteCommand(request);
}

} // namespace

uint32_t QXDisplay::Send(uint16_t code, const std::vector<uint8_t>& payload)
{
    if (Lost)
        return LostResult;
    // The alarm is taken whatever OutOfStep says, so that it is not left over
    // for a later request.
    const bool alarm = TakeReaderAlarm();
    if (OutOfStep || alarm) {
        if (const uint32_t result = BringInStep(IsBootCode(code)); result != 0)
            return result;
    }
    // A reply queued before the request goes out cannot answer it. Before a
    // transfer's first request, one with its code belongs to an earlier one.
    const uint32_t discarded = DiscardReplies(TransferCode);
    TransferDiscarded += TransferSent != 0 ? discarded : 0;
    const uint32_t sent = WriteRequest(*this, code, payload);
    // A request written in part may reach the unit all the same: it counts.
    TransferSent += code == TransferCode ? 1 : 0;
    // Part of the request may have reached the unit, which may still answer.
    if (sent != 0)
        OutOfStep = true;
    return sent;
}

uint32_t QXDisplay::Barrier(bool boot, uint32_t watchCode, uint32_t& strays)
{
    strays += DiscardReplies(watchCode);
    const uint16_t code = boot ? CMD_GET_BOOT_INFO : CMD_GET_DEVICE_INFO;
    if (const uint32_t sent = WriteRequest(*this, code, {}); sent != 0)
        return sent;
    return AwaitInOrder(code, InfoReplyLength, BarrierWaitMs, watchCode, strays);
}

uint32_t QXDisplay::BringInStep(bool boot)
{
    uint32_t result = ERR_TIMEOUT;
    for (int attempt = 0; attempt < BarrierAttempts; ++attempt) {
        uint32_t discarded = 0;
        result = Barrier(boot, TransferCode, discarded);
        TransferDiscarded += TransferSent != 0 ? discarded : 0;
        if (result == 0) {
            OutOfStep = false;
            ++InStepCount;
            InStepUnplaced = UnplacedReports();
            return 0;
        }
        if (result != ERR_TIMEOUT)
            break;
    }
    Lost = true;
    LostResult = result;
    return result;
}

void QXDisplay::StartTransfer(uint16_t code)
{
    TransferUnplaced = UnplacedReports();
    TransferRuns = UnplacedRuns();
    TransferCode = code;
    TransferSent = 0;
    TransferTaken = 0;
    TransferDiscarded = 0;
}

uint32_t QXDisplay::ConfirmInStep()
{
    const uint32_t result = CheckTransfer();
    TransferCode = NoMarker;
    return result;
}

uint32_t QXDisplay::CheckTransfer()
{
    if (Lost)
        return LostResult;
    const uint32_t code = TransferCode;
    // Every reply to the transfer's requests arrives before the barrier's.
    uint32_t discarded = TransferDiscarded;
    const uint32_t result = Barrier(IsBootCode(static_cast<uint16_t>(code)), code, discarded);
    if (result != 0) {
        OutOfStep = true;
        return result;
    }
    OutOfStep = false;
    TransferDiscarded = discarded;
    // A reply whose first report was lost arrives as a run of reports that
    // cannot be placed; it answered a request all the same.
    discarded += UnplacedRuns() - TransferRuns;
    if (uint64_t{TransferTaken} + discarded > TransferSent)
        return ERR_VERIFY_ERR;
    // A report that could not be placed since the last reply was checked is the
    // rest of a reply that something the transfer took may have swallowed.
    return UnplacedReports() != TransferUnplaced ? ERR_VERIFY_ERR : 0;
}

uint32_t QXDisplay::GetInfo(uint16_t code, DISPLAY_INFO& info)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    if (const uint32_t sent = Send(code, {}); sent != 0)
        return sent;
    uint8_t reply[InfoReplyLength] = {};
    const uint32_t result = WaitReply(code, InfoReplyLength, reply, InfoWaitMs);
    if (result == 0)
        info = DISPLAY_INFO::FromBytes(reply);
    return result;
}

uint32_t QXDisplay::GetDeviceInfo(DISPLAY_INFO& info) { return GetInfo(CMD_GET_DEVICE_INFO, info); }

uint32_t QXDisplay::GetBootInfo(DISPLAY_INFO& info) { return GetInfo(CMD_GET_BOOT_INFO, info); }

uint32_t QXDisplay::ReadMemory(uint16_t code, uint32_t address, uint32_t length, uint8_t* buffer)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    // The reply carries length + 1 bytes in a 16-bit length: a longer read
    // could never be answered.
    if (length > 0xFFFE || (buffer == nullptr && length != 0))
        return ERR_WRONG_PACKET;
    RequestPayload payload;
    payload.U32(address).U32(length);
    if (!payload.Finish())
        return ERR_WRONG_PACKET;
    if (const uint32_t sent = Send(code, payload.Bytes); sent != 0)
        return sent;
    std::vector<uint8_t> reply(length + 1);
    const uint32_t result = WaitReply(code, static_cast<uint16_t>(length + 1), reply.data(), length / 2 + 500);
    if (result == 0 && length != 0)
        std::memcpy(buffer, reply.data(), length);
    return result;
}

uint32_t QXDisplay::ReadDeviceMemory(uint32_t address, uint32_t length, uint8_t* buffer)
{
    return ReadMemory(CMD_READ_DEVICE_MEMORY, address, length, buffer);
}

uint32_t QXDisplay::ReadBootMemory(uint32_t address, uint32_t length, uint8_t* buffer)
{
    return ReadMemory(CMD_READ_BOOT_MEMORY, address, length, buffer);
}

uint32_t QXDisplay::ReadIdentity(uint16_t code, uint32_t appStart, DISPLAY_IDENTITY& identity)
{
    uint8_t bytes[IdentityLength] = {};
    const uint32_t result = ReadMemory(code, appStart - IdentityOffset, IdentityLength, bytes);
    if (result == 0)
        identity = DISPLAY_IDENTITY::FromBytes(bytes);
    return result;
}

uint32_t QXDisplay::ReadDeviceIdentity(uint32_t appStart, DISPLAY_IDENTITY& identity)
{
    return ReadIdentity(CMD_READ_DEVICE_MEMORY, appStart, identity);
}

uint32_t QXDisplay::ReadBootIdentity(uint32_t appStart, DISPLAY_IDENTITY& identity)
{
    return ReadIdentity(CMD_READ_BOOT_MEMORY, appStart, identity);
}

std::unique_ptr<FILE_ENTRY> QXDisplay::NextEntry(uint16_t code, const std::vector<uint8_t>& payload)
{
    ListingResult = Send(code, payload);
    if (ListingResult != 0)
        return nullptr;
    std::unique_ptr<HID_COMMAND> reply = WaitNextReply(code, EntryWaitMs, ListingResult);
    if (!reply)
        return nullptr;
    const uint32_t got = reply->Length;
    if (got >= FileEntryHeaderSize) {
        auto entry = std::make_unique<FILE_ENTRY>();
        entry->Bytes = std::move(reply->Data);
        return entry;
    }
    // Only the unit's end-of-listing entry ends the listing as complete; a
    // status is a refusal (a failing card, a folder that is not there), and
    // anything shorter is no answer the unit gives (or a reply cut short).
    if (got == EndOfListingSize) {
        ListingResult = 0;
    } else if (got >= 2) {
        ListingResult = StatusOffset + reply->Data[0];
    } else {
        ListingResult = ERR_READ_FAILED;
        OutOfStep = true;
    }
    return nullptr;
}

std::unique_ptr<FILE_ENTRY> QXDisplay::FindFirstUnguarded(const char* folder, const char* pattern)
{
    RequestPayload payload;
    payload.Text(folder).Text(pattern);
    if (!payload.Finish()) {
        ListingResult = ERR_WRONG_PACKET;
        return nullptr;
    }
    return NextEntry(CMD_FILE_FIND_FIRST, payload.Bytes);
}

std::unique_ptr<FILE_ENTRY> QXDisplay::FileFindFirst(const char* folder, const char* pattern)
{
    OperationScope operation(*this);
    if (operation.Result != 0) {
        ListingResult = operation.Result;
        return nullptr;
    }
    return FindFirstUnguarded(folder, pattern);
}

std::unique_ptr<FILE_ENTRY> QXDisplay::FileFindNext()
{
    OperationScope operation(*this);
    if (operation.Result != 0) {
        ListingResult = operation.Result;
        return nullptr;
    }
    return NextEntry(CMD_FILE_FIND_NEXT, {});
}

uint32_t QXDisplay::ListFiles(const char* folder, const char* pattern, EntryCallback callback)
{
    OperationScope operation(*this);
    if (operation.Result != 0) {
        ListingResult = operation.Result;
        return operation.Result;
    }
    // The unit keeps one cursor per listing, so a request for the next entry
    // that reached it twice (or came from another program) makes it skip an
    // entry, and the listing would end short but look complete. The replies
    // are counted as a transfer's are.
    StartTransfer(CMD_FILE_FIND_NEXT);
    std::unique_ptr<FILE_ENTRY> entry = FindFirstUnguarded(folder, pattern);
    while (entry) {
        if (callback)
            callback(folder, *entry);
        if (CancelAsked()) {
            ListingResult = ERR_CANCELLED;
            break;
        }
        entry = NextEntry(CMD_FILE_FIND_NEXT, {});
    }
    if (ListingResult == 0)
        ListingResult = ConfirmInStep();
    else
        TransferCode = NoMarker;
    return 0;
}

uint32_t QXDisplay::ReadFileBlockUnguarded(const char* folder, const char* name, uint32_t offset, uint32_t& length,
                                           uint8_t* buffer)
{
    if (buffer == nullptr && length != 0)
        return ERR_WRONG_PACKET;
    RequestPayload payload;
    payload.Text(folder).Text(name).U32(offset).U32(length);
    if (!payload.Finish())
        return ERR_WRONG_PACKET;
    if (const uint32_t sent = Send(CMD_READ_FILE_BLOCK, payload.Bytes); sent != 0)
        return sent;
    uint32_t status = 0;
    std::unique_ptr<HID_COMMAND> reply = WaitNextReply(CMD_READ_FILE_BLOCK, BlockWaitMs, status);
    if (!reply)
        return status;
    const uint32_t got = reply->Length;
    if (got >= 5) {
        const uint32_t count = GetLE32(reply->Data.data() + 1);
        if (count > length || uint64_t{got} < uint64_t{count} + 5) {
            // A reply that does not fit the request may answer another one.
            OutOfStep = true;
            return ERR_READ_FAILED;
        }
        if (count != 0)
            std::memcpy(buffer, reply->Data.data() + 5, count);
        length = count;
        return 0;
    }
    if (got >= 2)
        return StatusOffset + reply->Data[0];
    OutOfStep = true;
    return ERR_READ_FAILED;
}

uint32_t QXDisplay::ReadFileBlock(const char* folder, const char* name, uint32_t offset, uint32_t& length,
                                  uint8_t* buffer)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    return ReadFileBlockUnguarded(folder, name, offset, length, buffer);
}

uint32_t QXDisplay::WriteFileBlockUnguarded(const char* folder, const char* name, uint32_t offset, uint32_t length,
                                            const uint8_t* data)
{
    RequestPayload payload;
    payload.Text(folder).Text(name).U8(WriteBlockFlag).U32(offset).U32(length).Raw(data, length);
    if (!payload.Finish())
        return ERR_WRONG_PACKET;
    if (const uint32_t sent = Send(CMD_WRITE_FILE_BLOCK, payload.Bytes); sent != 0)
        return sent;
    return WaitStatus(CMD_WRITE_FILE_BLOCK, WriteBlockWaitMs);
}

uint32_t QXDisplay::WriteFileBlock(const char* folder, const char* name, uint32_t offset, uint32_t length,
                                   const uint8_t* data)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    return WriteFileBlockUnguarded(folder, name, offset, length, data);
}

namespace {

// Blocks copied into the caller's buffer of the file's size.
class BufferSink : public BlockSink {
public:
    explicit BufferSink(uint8_t* buffer) : Buffer(buffer) {}
    uint32_t Write(const uint8_t* data, uint32_t length) override
    {
        if (Buffer == nullptr)
            return ERR_WRONG_PACKET;
        std::memcpy(Buffer + Done, data, length);
        Done += length;
        return 0;
    }

private:
    uint8_t* Buffer;
    uint32_t Done = 0;
};

} // namespace

uint32_t QXDisplay::GetFile(const char* folder, const char* name, uint32_t total, uint8_t* buffer,
                            ProgressCallback callback)
{
    BufferSink sink(buffer);
    return GetFile(folder, name, total, sink, callback);
}

uint32_t QXDisplay::GetFile(const char* folder, const char* name, uint32_t total, BlockSink& sink,
                            ProgressCallback callback)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    // One block at a time: memory stays bounded by a block whatever size the listing claimed.
    uint8_t buffer[FileBlockSize];
    // The block handed on last: a duplicated request makes the unit answer it twice, and the
    // second answer, taken for the next block, is byte for byte the same.
    uint8_t previous[FileBlockSize];
    uint32_t previousSize = 0;
    uint32_t sinceCheck = 0;
    uint32_t done = 0;
    uint32_t result = 0;
    StartTransfer(CMD_READ_FILE_BLOCK);
    if (callback)
        callback(folder, name, total, 0);
    while (result == 0 && done < total) {
        if (callback)
            callback(folder, name, total, done);
        if (CancelAsked()) {
            result = ERR_CANCELLED;
            break;
        }
        // A read has no side effect, so a block whose reply did not come (or
        // did not fit) is asked for once more, after the link is back in step.
        uint32_t block = 0;
        // The bytes of a suspect first reply: a file whose own data looks like the start of
        // another reply gives the same suspect reply every time, and is taken when the
        // block asked again (after the link is back in step) comes back the same.
        std::vector<uint8_t> suspectBytes;
        for (int attempt = 0; attempt < 2; ++attempt) {
            block = std::min(FileBlockSize, total - done);
            const uint32_t barriers = InStepCount;
            const uint32_t suspects = SuspectMessages();
            result = ReadFileBlockUnguarded(folder, name, done, block, buffer);
            result = JudgeUnplaced(result, barriers, attempt == 0 && done > 0);
            // A reply that may have been completed by another reply's start, or that repeats
            // the one before it. A file whose own blocks repeat gives the same bytes again.
            const bool repeatsPrevious = block == previousSize && block != 0 &&
                                         std::equal(previous, previous + block, buffer);
            if (result == 0 && (SuspectMessages() != suspects || repeatsPrevious)) {
                const bool repeated = attempt == 1 && suspectBytes.size() == block &&
                                      std::equal(suspectBytes.begin(), suspectBytes.end(), buffer);
                if (!repeated) {
                    if (attempt == 0)
                        suspectBytes.assign(buffer, buffer + block);
                    OutOfStep = true;
                    result = ERR_READ_FAILED;
                }
            }
            // A unit that answers with no bytes while more are due would be
            // asked for the same block forever.
            if (result == 0 && block == 0)
                result = ERR_READ_FAILED;
            if ((result != ERR_TIMEOUT && result != ERR_READ_FAILED) || Lost)
                break;
        }
        if (result == 0)
            result = sink.Write(buffer, block);
        if (result == 0) {
            done += block;
            std::copy(buffer, buffer + block, previous);
            previousSize = block;
        }
        // A duplicated request and a lost one cancel in the count, and the
        // blocks between them each carry the one before: the count is taken
        // every few blocks too, so that such a pair rarely falls between two
        // counts. Each costs one round trip (under 1% of the transfer).
        if (result == 0 && done < total && ++sinceCheck == CheckEveryBlocks) {
            sinceCheck = 0;
            result = CheckTransfer();
        }
    }
    if (result == 0)
        result = ConfirmInStep();
    if (callback)
        callback(folder, name, total, done);
    return result;
}

// Reports the reader could not place are the rest of a reply whose start was
// lost or swallowed by the message before them (a half-built reply completed
// with another reply's first report). Whose reply they end is told by when
// they came, the unit answering in order:
// - before the link was last brought back in step for this request: they
//   belong to an earlier answer. On a retry that is the failed attempt of this
//   block, and they are settled. On a first attempt that is the block handed
//   on last (or a request before the transfer), which cannot be taken back:
//   the transfer fails with ERR_VERIFY_ERR once it has handed on a block.
// - after that, and the reply was taken: this block's reply may have swallowed
//   another's start. On a first attempt without a barrier the reply taken
//   last may have done so too, so the same holds; otherwise this block is
//   asked again once the link is back in step (a read has no side effect).
// - and no reply was taken: the failed attempt is retried anyway.
uint32_t QXDisplay::JudgeUnplaced(uint32_t result, uint32_t barriers, bool blockHandedOn)
{
    const bool barrier = InStepCount != barriers;
    if (barrier) {
        const bool earlier = InStepUnplaced != TransferUnplaced;
        TransferUnplaced = InStepUnplaced;
        if (earlier && blockHandedOn)
            return ERR_VERIFY_ERR;
    }
    if (UnplacedReports() == TransferUnplaced)
        return result;
    TransferUnplaced = UnplacedReports();
    if (result != 0)
        return result;
    if (!barrier && blockHandedOn)
        return ERR_VERIFY_ERR;
    OutOfStep = true;
    return ERR_READ_FAILED;
}

uint32_t QXDisplay::PutFile(const char* folder, const char* name, uint32_t total, const uint8_t* data,
                            ProgressCallback callback)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    // Asked before the unit's file of that name is touched, so a send cancelled at once keeps it.
    if (callback)
        callback(folder, name, total, 0);
    if (CancelAsked())
        return ERR_CANCELLED;
    uint32_t probe = 0;
    if (ReadFileBlockUnguarded(folder, name, 0, probe, nullptr) == 0)
        (void)RemoveFileUnguarded(folder, name);
    uint32_t done = 0;
    uint32_t result = 0;
    StartTransfer(CMD_WRITE_FILE_BLOCK);
    while (result == 0 && done < total) {
        if (callback)
            callback(folder, name, total, done);
        if (CancelAsked()) {
            result = ERR_CANCELLED;
            break;
        }
        const uint32_t block = std::min(FileBlockSize, total - done);
        result = WriteFileBlockUnguarded(folder, name, done, block, data + done);
        if (result == 0)
            done += block;
    }
    if (result == 0)
        result = ConfirmInStep();
    // The unit's older file is gone already; the part written of the new one would pass for a
    // whole file.
    if (result == ERR_CANCELLED && done > 0)
        (void)RemoveFileUnguarded(folder, name);
    if (callback)
        callback(folder, name, total, done);
    return result;
}

uint32_t QXDisplay::RemoveFileUnguarded(const char* folder, const char* name)
{
    RequestPayload payload;
    payload.Text(folder).Text(name).U8(RemoveFlag);
    if (!payload.Finish())
        return ERR_WRONG_PACKET;
    if (const uint32_t sent = Send(CMD_REMOVE_FILE, payload.Bytes); sent != 0)
        return sent;
    return WaitStatus(CMD_REMOVE_FILE, RemoveWaitMs);
}

uint32_t QXDisplay::RemoveFile(const char* folder, const char* name)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    StartTransfer(CMD_REMOVE_FILE);
    const uint32_t result = RemoveFileUnguarded(folder, name);
    return result == 0 ? ConfirmInStep() : result;
}

uint32_t QXDisplay::ProbeFile(const char* folder, const char* name)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    uint32_t length = 0;
    return ReadFileBlockUnguarded(folder, name, 0, length, nullptr);
}

uint32_t QXDisplay::SendAndWaitStatus(uint16_t code, RequestPayload& payload, uint32_t timeoutMs)
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    if (!payload.Finish())
        return ERR_WRONG_PACKET;
    if (const uint32_t sent = Send(code, payload.Bytes); sent != 0)
        return sent;
    return WaitStatus(code, timeoutMs);
}

uint32_t QXDisplay::ProgramBlock(uint8_t imageFlags, uint32_t address, uint32_t length, const uint8_t* data)
{
    RequestPayload payload;
    payload.U8(imageFlags).U32(address).U32(length).Raw(data, length);
    return SendAndWaitStatus(CMD_PROGRAM_BLOCK, payload, ProgramWaitMs);
}

uint32_t QXDisplay::EraseSector(uint32_t sectorIndex, uint32_t sectorAddress)
{
    RequestPayload payload;
    payload.U32(sectorIndex).U32(sectorAddress);
    return SendAndWaitStatus(CMD_ERASE_SECTOR, payload, EraseWaitMs);
}

uint32_t QXDisplay::ShowText(const char* text)
{
    RequestPayload payload;
    payload.Text(text);
    return SendAndWaitStatus(CMD_SHOW_TEXT, payload, ShowTextWaitMs);
}

uint32_t QXDisplay::FinishUpdate()
{
    OperationScope operation(*this);
    if (operation.Result != 0)
        return operation.Result;
    // No reply is awaited, so no late reply can be mistaken for it: the end of
    // the update goes out even when the link is out of step.
    (void)DiscardReplies(CMD_FINISH_UPDATE);
    return WriteRequest(*this, CMD_FINISH_UPDATE, {});
}
