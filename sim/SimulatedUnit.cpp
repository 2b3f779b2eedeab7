#include "SimulatedUnit.h"

#include <algorithm>
#include <cstring>

#include "HidCommand.h"

namespace sim {
namespace {

// A half-received request older than this is forgotten when the next report comes.
constexpr uint64_t RequestGapMs = 100;
// Texts shown on the screen that the unit remembers for inspection.
constexpr size_t MaxScreenHistory = 1000;
// Largest reply payload: the message's 16-bit total length includes 4 header bytes.
constexpr size_t MaxReplyPayload = 0xFFFF - 4;
constexpr uint8_t FileAttribute = 0x20;
constexpr uint8_t FolderAttribute = 0x10;

std::vector<uint8_t> WithChecksum(std::vector<uint8_t> bytes)
{
    bytes.push_back(Checksum(bytes.data(), bytes.size()));
    return bytes;
}

std::vector<uint8_t> StatusPayload(uint8_t status)
{
    return WithChecksum({status});
}

bool HasPayload(uint16_t code)
{
    return code != CodeDeviceInfo && code != CodeFindNext && code != CodeBootInfo && code != CodeFinish;
}

bool KnownIn(UnitMode mode, uint16_t code)
{
    if (mode == UnitMode::Normal)
        return code == CodeDeviceInfo || code == CodeDeviceMemory || (code >= CodeFindFirst && code <= CodeRemove);
    return code >= CodeBootInfo && code <= CodeShowText;
}

} // namespace

std::vector<SectorLayout> ChipLayout(uint32_t chipId)
{
    std::vector<SectorLayout> sectors;
    if (chipId == 1) {
        for (uint32_t i = 0; i < 16; ++i)
            sectors.push_back({UnitFlashBase + i * 0x8000, i == 15 ? 0x4000u : 0x8000u});
        sectors.push_back({0x1007C000, 0x1000});
        sectors.push_back({0x1007D000, 0x1000});
        sectors.push_back({0x1007E000, 0x2000});
    } else if (chipId == 0) {
        sectors = {{0x10000000, 0x2000}, {0x10002000, 0x1000}, {0x10003000, 0x1000}, {0x10004000, 0x4000}};
        for (uint32_t i = 4; i < 19; ++i)
            sectors.push_back({0x10008000 + (i - 4) * 0x8000, 0x8000});
    }
    return sectors;
}

SimulatedUnit::SimulatedUnit(UnitSettings settings)
    : Config(std::move(settings)), SdCard(Config.CardFolder), FlashBytes(UnitFlashSize, 0xFF)
{
    WriteIdentity();
}

void SimulatedUnit::PowerUp(UnitMode mode)
{
    CurrentMode = mode;
    Stream.clear();
    Assembling = false;
    Listing.clear();
    ListingNext = 0;
}

void SimulatedUnit::WriteIdentity()
{
    const uint64_t at = static_cast<uint64_t>(Config.AppStart) - UnitIdentityOffset;
    if (Config.AppStart < UnitFlashBase + UnitIdentityOffset || at + UnitIdentityLength > UnitFlashBase + UnitFlashSize)
        return;
    std::vector<uint8_t> block(UnitIdentityLength, 0);
    // The serial number keeps its NUL within its 24-byte field.
    std::memcpy(block.data(), Config.SerialNumber.data(), std::min<size_t>(Config.SerialNumber.size(), 23));
    std::copy(Config.DeviceKey.begin(), Config.DeviceKey.end(), block.begin() + 24);
    for (int i = 0; i < 4; ++i)
        block[32 + static_cast<size_t>(i)] = static_cast<uint8_t>(Config.BootloaderVersion >> (8 * i));
    std::copy(block.begin(), block.end(), FlashBytes.begin() + static_cast<ptrdiff_t>(at - UnitFlashBase));
}

void SimulatedUnit::SetChip(uint32_t chipId, uint32_t addressUnit, uint32_t appStart)
{
    Config.ChipId = chipId;
    Config.AddressUnit = addressUnit;
    Config.AppStart = appStart;
    WriteIdentity();
}

void SimulatedUnit::SetStatusFaults(std::vector<StatusFault> faults)
{
    StatusFaults = std::move(faults);
    CodeCounts.clear();
}

void SimulatedUnit::SetFlashFaults(std::vector<FlashFault> faults)
{
    FlashFaults = std::move(faults);
    ProgrammedSinceFaults = 0;
}

void SimulatedUnit::ClearLogs()
{
    Texts.clear();
    Programs.clear();
    Erases.clear();
}

std::vector<std::array<uint8_t, UnitReportLength>> SimulatedUnit::FrameReply(uint16_t code,
                                                                             const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> stream;
    stream.reserve(payload.size() + 4); // one allocation; growing in steps trips GCC 12's -Wstringop-overflow
    PutU16(stream, code);
    PutU16(stream, static_cast<uint16_t>(payload.size() + 4));
    stream.insert(stream.end(), payload.begin(), payload.end());
    std::vector<std::array<uint8_t, UnitReportLength>> reports;
    for (size_t at = 0; at < stream.size(); at += UnitReportRoom) {
        std::array<uint8_t, UnitReportLength> report{};
        std::copy(std::begin(UnitMarker), std::end(UnitMarker), report.begin() + 1);
        const size_t count = std::min(UnitReportRoom, stream.size() - at);
        std::copy_n(stream.begin() + static_cast<ptrdiff_t>(at), count, report.begin() + UnitReportHeader);
        reports.push_back(report);
    }
    return reports;
}

UnitAnswer SimulatedUnit::ReceiveReport(const uint8_t* report, size_t length, uint64_t atMs)
{
    // The endpoint takes whole reports only, each behind the marker.
    if (length != UnitReportLength || std::memcmp(report + 1, UnitMarker, sizeof UnitMarker) != 0)
        return {};
    if (Assembling && atMs - LastReportMs > RequestGapMs) {
        Stream.clear();
        Assembling = false;
    }
    Assembling = true;
    LastReportMs = atMs;
    Stream.insert(Stream.end(), report + UnitReportHeader, report + UnitReportLength);
    const size_t total = std::max<size_t>(4, static_cast<size_t>(Stream[2]) | static_cast<size_t>(Stream[3]) << 8);
    if (Stream.size() < total)
        return {};
    const auto code = static_cast<uint16_t>(Stream[0] | Stream[1] << 8);
    std::vector<uint8_t> payload(Stream.begin() + 4, Stream.begin() + static_cast<ptrdiff_t>(total));
    Stream.clear();
    Assembling = false;
    return Execute(code, payload);
}

UnitAnswer SimulatedUnit::Execute(uint16_t code, const std::vector<uint8_t>& payload)
{
    UnitAnswer answer;
    if (!KnownIn(CurrentMode, code))
        return answer;
    const uint64_t seen = ++CodeCounts[code];
    LastPayloads[code] = payload;
    Outcome outcome;
    const auto fault = std::find_if(StatusFaults.begin(), StatusFaults.end(), [&](const StatusFault& f) {
        return f.Code == code && (f.Occurrence == 0 || f.Occurrence == seen);
    });
    if (fault != StatusFaults.end())
        outcome.Payload = StatusPayload(fault->Status);
    else if (HasPayload(code) && payload.empty())
        outcome.Payload = StatusPayload(StatusBadRequest);
    else if (HasPayload(code) && payload.back() != Checksum(payload.data(), payload.size() - 1))
        outcome.Payload = StatusPayload(StatusBadChecksum);
    else
        outcome = Run(code, payload, answer);
    if (outcome.Answer)
        answer.Reports = FrameReply(code, outcome.Payload);
    return answer;
}

UnitAnswer SimulatedUnit::ExecuteAgain(uint16_t code)
{
    const auto last = LastPayloads.find(code);
    return Execute(code, last != LastPayloads.end() ? last->second : std::vector<uint8_t>{});
}

SimulatedUnit::Outcome SimulatedUnit::Run(uint16_t code, const std::vector<uint8_t>& payload, UnitAnswer& answer)
{
    // The checksum byte is not part of the fields.
    WireReader in(payload.data(), payload.empty() ? 0 : payload.size() - 1);
    switch (code) {
    case CodeDeviceInfo:
    case CodeBootInfo: return Info();
    case CodeDeviceMemory:
    case CodeBootMemory: return Memory(in);
    case CodeFindFirst: return FindFirst(in);
    case CodeFindNext: return NextEntry();
    case CodeWriteBlock: return WriteBlock(in);
    case CodeReadBlock: return ReadBlock(in);
    case CodeRemove: return Remove(in);
    case CodeProgram: return Program(in);
    case CodeErase: return Erase(in, answer);
    case CodeShowText: return ShowText(in);
    case CodeFinish:
        answer.Finished = true;
        return {false, {}};
    default: return {false, {}};
    }
}

SimulatedUnit::Outcome SimulatedUnit::Info() const
{
    std::vector<uint8_t> info;
    PutU32(info, CurrentMode == UnitMode::Normal ? Config.FirmwareVersion : Config.BootloaderVersion);
    PutU32(info, Config.ChipId);
    info.resize(24, 0);
    PutU32(info, Config.AddressUnit);
    PutU32(info, Config.AppStart);
    info.resize(UnitInfoLength, 0);
    return {true, WithChecksum(std::move(info))};
}

SimulatedUnit::Outcome SimulatedUnit::Memory(WireReader& in) const
{
    const auto address = in.U32();
    const auto count = in.U32();
    if (!address || !count || in.Remaining() != 0)
        return {true, StatusPayload(StatusBadRequest)};
    const uint64_t end = static_cast<uint64_t>(*address) + *count;
    if (*address < UnitFlashBase || end > UnitFlashBase + UnitFlashSize || *count + 1 > MaxReplyPayload)
        return {true, StatusPayload(StatusBadAddress)};
    const auto first = FlashBytes.begin() + (*address - UnitFlashBase);
    return {true, WithChecksum(std::vector<uint8_t>(first, first + *count))};
}

SimulatedUnit::Outcome SimulatedUnit::FindFirst(WireReader& in)
{
    Listing.clear();
    ListingNext = 0;
    const auto folder = in.Text();
    const auto pattern = in.Text();
    if (!folder || !pattern || in.Remaining() != 0)
        return {true, StatusPayload(StatusBadRequest)};
    const uint8_t status = SdCard.List(*folder, *pattern, Listing);
    if (status != StatusOk)
        return {true, StatusPayload(status)};
    return NextEntry();
}

SimulatedUnit::Outcome SimulatedUnit::NextEntry()
{
    // The end of the listing is an entry of its own, 5 bytes long, so that it
    // cannot be mistaken for a refusal (a 2-byte status).
    if (ListingNext >= Listing.size())
        return {true, WithChecksum({StatusNoMoreFiles, 0, 0, 0})};
    const CardEntry& entry = Listing[ListingNext++];
    std::vector<uint8_t> bytes{StatusOk, entry.Folder ? FolderAttribute : FileAttribute};
    PutU32(bytes, entry.Size);
    bytes.insert(bytes.end(), entry.Name.begin(), entry.Name.end());
    bytes.push_back(0);
    return {true, bytes};
}

SimulatedUnit::Outcome SimulatedUnit::WriteBlock(WireReader& in)
{
    const auto folder = in.Text();
    const auto name = in.Text();
    const auto flag = in.U8();
    const auto offset = in.U32();
    const auto count = in.U32();
    if (!folder || !name || !flag || !offset || !count || in.Remaining() != *count)
        return {true, StatusPayload(StatusBadRequest)};
    return {true, StatusPayload(SdCard.Write(*folder, *name, *offset, in.Bytes(*count), *count))};
}

SimulatedUnit::Outcome SimulatedUnit::ReadBlock(WireReader& in)
{
    const auto folder = in.Text();
    const auto name = in.Text();
    const auto offset = in.U32();
    const auto wanted = in.U32();
    if (!folder || !name || !offset || !wanted || in.Remaining() != 0)
        return {true, StatusPayload(StatusBadRequest)};
    const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(Config.MaxReadBlock, MaxReplyPayload - 5));
    std::vector<uint8_t> data;
    const uint8_t status = SdCard.Read(*folder, *name, *offset, std::min(*wanted, limit), data);
    if (status != StatusOk)
        return {true, StatusPayload(status)};
    std::vector<uint8_t> bytes{StatusOk};
    PutU32(bytes, static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return {true, bytes};
}

SimulatedUnit::Outcome SimulatedUnit::Remove(WireReader& in)
{
    const auto folder = in.Text();
    const auto name = in.Text();
    const auto flag = in.U8();
    if (!folder || !name || !flag || in.Remaining() != 0)
        return {true, StatusPayload(StatusBadRequest)};
    return {true, StatusPayload(SdCard.Remove(*folder, *name))};
}

SimulatedUnit::Outcome SimulatedUnit::Program(WireReader& in)
{
    const auto flags = in.U8();
    const auto address = in.U32();
    const auto count = in.U32();
    if (!flags || !address || !count || in.Remaining() != *count)
        return {true, StatusPayload(StatusBadRequest)};
    if (Config.AddressUnit == 0 || *address < Config.AppStart)
        return {true, StatusPayload(StatusBadAddress)};
    const uint64_t at = Config.AppStart + static_cast<uint64_t>(*address - Config.AppStart) * Config.AddressUnit;
    if (at < UnitFlashBase || at + *count > UnitFlashBase + UnitFlashSize)
        return {true, StatusPayload(StatusBadAddress)};
    const auto target = FlashBytes.begin() + static_cast<ptrdiff_t>(at - UnitFlashBase);
    if (!std::all_of(target, target + *count, [](uint8_t b) { return b == 0xFF; }))
        return {true, StatusPayload(StatusNotErased)};
    const uint8_t* data = in.Bytes(*count);
    std::copy(data, data + *count, target);
    ++ProgrammedSinceFaults;
    for (const FlashFault& fault : FlashFaults)
        if (fault.Block == ProgrammedSinceFaults && fault.Byte < *count)
            target[fault.Byte] = static_cast<uint8_t>(~target[fault.Byte]);
    Programs.push_back({*flags, *address, *count});
    return {true, StatusPayload(StatusOk)};
}

SimulatedUnit::Outcome SimulatedUnit::Erase(WireReader& in, UnitAnswer& answer)
{
    const auto sector = in.U32();
    const auto address = in.U32();
    if (!sector || !address || in.Remaining() != 0)
        return {true, StatusPayload(StatusBadRequest)};
    const std::vector<SectorLayout> layout = ChipLayout(Config.ChipId);
    // The bootloader and the identity block below AppStart are never erased.
    if (*sector >= layout.size() || layout[*sector].Start != *address || *address < Config.AppStart)
        return {true, StatusPayload(StatusBadSector)};
    const auto first = FlashBytes.begin() + static_cast<ptrdiff_t>(*address - UnitFlashBase);
    std::fill(first, first + layout[*sector].Size, 0xFF);
    Erases.push_back({*sector, *address});
    answer.BusyMs = Config.EraseMs;
    return {true, StatusPayload(StatusOk)};
}

SimulatedUnit::Outcome SimulatedUnit::ShowText(WireReader& in)
{
    const auto text = in.Text();
    if (!text || in.Remaining() != 0)
        return {true, StatusPayload(StatusBadRequest)};
    Screen = *text;
    if (Texts.size() < MaxScreenHistory)
        Texts.push_back(Screen);
    return {true, StatusPayload(StatusOk)};
}

} // namespace sim
