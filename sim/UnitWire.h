#pragma once
// The unit's side of the wire: its constants, and the bounds-checked
// little-endian reader and writer it decodes requests and builds replies with.
// These are the unit's own definitions, kept apart from the tool's, so that a
// wrong constant on either side shows up when the two talk to each other.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr uint16_t UnitNormalProductId = 0x0801;
constexpr uint16_t UnitBootProductId = 0x0800;
// Input and output reports, report identifier included.
constexpr size_t UnitReportLength = 64;
// Identifier byte plus the marker 55 AA AA 55 that starts every report.
constexpr size_t UnitReportHeader = 5;
// Stream bytes carried per report after the header.
constexpr size_t UnitReportRoom = UnitReportLength - UnitReportHeader;
constexpr uint8_t UnitMarker[4] = {0x55, 0xAA, 0xAA, 0x55};

constexpr uint32_t UnitFlashBase = 0x10000000;
constexpr uint32_t UnitFlashSize = 0x80000;
constexpr uint32_t UnitIdentityOffset = 2048; // identity block lies this far below AppStart
constexpr size_t UnitIdentityLength = 40;
constexpr size_t UnitInfoLength = 52;

// Command codes the unit answers.
enum UnitCode : uint16_t {
    CodeDeviceInfo = 0x4000,
    CodeDeviceMemory = 0x4001,
    CodeFindFirst = 0x4010,
    CodeFindNext = 0x4011,
    CodeWriteBlock = 0x4012,
    CodeReadBlock = 0x4013,
    CodeRemove = 0x4014,
    CodeBootInfo = 0x6000,
    CodeBootMemory = 0x6001,
    CodeProgram = 0x6002,
    CodeErase = 0x6003,
    CodeFinish = 0x6004,
    CodeShowText = 0x6005,
};

// Status bytes of the unit's 2-byte status replies. 0xFF is success; the
// failure values are the unit's own.
enum UnitStatus : uint8_t {
    StatusOk = 0xFF,
    StatusBadRequest = 0x01,     // payload too short or inconsistent, text without NUL
    StatusBadChecksum = 0x02,
    StatusNoMoreFiles = 0x03,    // ends a listing
    StatusCardLocked = 0x04,     // the card's write protection is on
    StatusFileNotFound = 0x05,
    StatusBadName = 0x06,        // a name or folder the card cannot hold (or that would leave it)
    StatusBadOffset = 0x07,      // a write not at the file's end, a read past it
    StatusCardError = 0x08,      // the card's file system failed
    StatusFolderNotFound = 0x09,
    StatusNotAFile = 0x0A,       // removing or reading a folder
    StatusBadSector = 0x10,      // erase: index and address disagree with the layout, or protected
    StatusNotErased = 0x11,      // program: target bytes not all 0xFF
    StatusBadAddress = 0x12,     // program / memory read outside the flash
};

// Bounds-checked little-endian reader over untrusted bytes. Every read checks
// the bytes that remain; a failed read leaves the position where it was.
class WireReader {
public:
    WireReader(const uint8_t* data, size_t size) : Data(data), Size(size) {}

    size_t Remaining() const { return Size - Position; }
    std::optional<uint8_t> U8()
    {
        if (Remaining() < 1)
            return std::nullopt;
        return Data[Position++];
    }
    std::optional<uint32_t> U32()
    {
        if (Remaining() < 4)
            return std::nullopt;
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | Data[Position + static_cast<size_t>(i)];
        Position += 4;
        return value;
    }
    // A text up to its NUL (consumed); none when no NUL lies within the bytes left.
    std::optional<std::string> Text()
    {
        for (size_t i = Position; i < Size; ++i) {
            if (Data[i] == 0) {
                std::string text(reinterpret_cast<const char*>(Data + Position), i - Position);
                Position = i + 1;
                return text;
            }
        }
        return std::nullopt;
    }
    // A view of the next `count` bytes, or null when fewer remain.
    const uint8_t* Bytes(size_t count)
    {
        if (Remaining() < count)
            return nullptr;
        const uint8_t* start = Data + Position;
        Position += count;
        return start;
    }

private:
    const uint8_t* Data;
    size_t Size;
    size_t Position = 0;
};

inline void PutU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint32_t GetU32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace sim
