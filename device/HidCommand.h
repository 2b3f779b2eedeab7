#pragma once
// One request or one reply between the tool and the unit.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Checksum.h"

constexpr uint32_t FrameMarker = 0x55AAAA55;
// Magic / Code value of a raw (unframed) message.
constexpr uint32_t NoMarker = 0xFFFFFFFF;

struct HID_COMMAND {
    uint32_t Time = 0;      // tick count when the reply was completed (0 in requests)
    uint32_t ReportId = 0;  // only the low byte is used
    uint32_t Magic = 0;
    uint32_t Code = 0;
    uint32_t Length = 0;    // payload bytes in Data
    std::vector<uint8_t> Data; // owned payload; Data.size() == Length

    // All fields zero and no payload.
    void Clear() { *this = HID_COMMAND{}; }
};
